#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace relo {

// The INI engine: read and update keys of any INI file, byte for byte, leaving
// everything else as it was (the rules are beside the implementation).

// The values of `keys` in `section` of the file at `path`, from one reading of
// it (empty for a key that is not there). Section and key names match without
// regard to case; a value is trimmed and cut to 254 characters. Nothing when the
// file exists but cannot be read (over 1 MiB, not a regular file).
std::optional<QStringList> readIniValues(const QString &path, const QString &section,
                                         const QStringList &keys);

// Writes each (key, value) of `values` into `section` of the file at `path`,
// replacing the value of an existing key in place, or adding the key at the end
// of its section, or the section at the end of the file; every other byte stays
// as it was. All in one atomic replacement; false, leaving the file untouched,
// when it could not be read in full or written, or when a key or value cannot be
// stored on one line (empty key, "=" in the key, a line break or NUL in either).
// With `fresh` the file is built anew (a damaged one is replaced whole) instead
// of being updated.
bool writeIniValues(const QString &path, const QString &section,
                    const QList<std::pair<QString, QString>> &values, bool fresh = false);

// One line for standard error when the file at `path` lies in a folder several
// accounts share and is not used for safety (a symbolic link, a file of someone
// outside the folder's group); empty otherwise. Such a file reads as one that
// cannot be read, and is not replaced.
QString settingsFileProblem(const QString &path);

} // namespace relo
