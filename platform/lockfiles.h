#pragma once

#include <QString>

namespace relo::platform {

// The lock files of serial devices (UUCP style, as QSerialPort takes them) and
// the processes they name.

// The lock file QSerialPort takes for the device `path`, its folder's links
// resolved (/run/lock/LCK..ttyUSB0); empty where no lock folder is usable.
QString lockFilePath(const QString &path);

// Whether `lockFile` exists and names a process of this machine that has ended.
bool isStaleLock(const QString &lockFile);

// Whether the process numbered `pid` has ended, or its number has since gone to
// a program other than `program` (compared by file name: a path or a bare name
// will do). False while that cannot be told, as for another user's process
// that still runs.
bool isProcessGone(qint64 pid, const QString &program);

} // namespace relo::platform
