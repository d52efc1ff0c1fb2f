#pragma once

#include <QByteArray>
#include <QList>

namespace relo::platform {

// Nanoseconds on a clock that counts from boot, suspended time included: the
// scale of process start times.
qint64 bootClockNs();

// When this process started, on that clock; -1 when it cannot be told.
qint64 processStartNs();

struct StartedProcess
{
    qint64 pid = 0;
    qint64 startNs = 0;
};

// This user's running processes whose program is named `name` (as the system
// knows it: the executable's file name, cut to 15 characters), other than this
// one, with their start times. Processes that ended are not among them, even
// before they were reaped. With `sharedFolder`, those of every account that
// shares that folder (root and the members of its group) instead.
QList<StartedProcess> processesNamed(const QByteArray &name, const QString &sharedFolder = {});

// Whether the process `pid` runs: also when it is another account's, which
// this one may not signal.
bool processExists(qint64 pid);

} // namespace relo::platform
