#pragma once

#include "frame.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace relo {

// Helpers of relo-web, a program without a window.

// The first line of a small text file (a password file); nothing when the file
// cannot be read or is bigger than 4 KiB.
std::optional<QString> readFirstLine(const QString &path);

} // namespace relo
