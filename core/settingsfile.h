#pragma once

#include "link/frame.h"
#include "core/inifile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace relo {

// ayar.ini, section RELO, beside the command program. Keys: PortNumber, PortData.
// The INI engine under it is inifile.h.
inline const QString SettingsFileName = QStringLiteral("ayar.ini");
inline const QString SettingsSection = QStringLiteral("RELO");
inline const QString PortNumberKey = QStringLiteral("PortNumber");
inline const QString PortDataKey = QStringLiteral("PortData");

// The path of ayar.ini in `folder`.
QString settingsPath(const QString &folder);

// Reads RELO/`key` from ayar.ini in `folder`. Section and key names match without
// regard to case; the value is trimmed and cut to 254 characters. A missing file,
// section or key, or an unreadable file (over 1 MiB, not a regular file), reads as
// the empty text.
QString readSetting(const QString &folder, const QString &key);

// Writes RELO/`key` = `value` into ayar.ini in `folder`, replacing the value of an
// existing key in place, or adding the key at the end of its section, or the
// section at the end of the file; every other byte stays as it was. The file is
// replaced atomically. Returns false, leaving the file untouched, when it could not
// be read in full or written, or when the key or value cannot be stored on one
// line (empty key, "=" in the key, a line break or NUL in either).
bool writeSetting(const QString &folder, const QString &key, const QString &value);

// The strict conversion of a stored value: blanks around the number allowed, a
// fraction rounded down ("3.7" -> 3), empty, non-numeric or outside the signed
// 16-bit range -> nothing.
std::optional<qint16> wholeNumberSetting(const QString &value);

// A stored PortData as a mask: nothing when the conversion fails or the value lies
// outside 0..255.
std::optional<Mask> maskSetting(const QString &value);

} // namespace relo
