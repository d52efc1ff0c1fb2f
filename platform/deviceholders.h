#pragma once

#include <QSet>
#include <QString>

namespace relo::platform {

// The character devices that processes other than this one hold open, as far
// as this user may look into those processes (the way fuser finds them), seen
// at one moment. Looking takes a while with many processes: a caller that asks
// about several devices in a row looks once.
class HeldDevices
{
public:
    // Holds nothing.
    HeldDevices() = default;

    // Looks through the processes now.
    static HeldDevices now();

    // Whether the character device at `path` (links followed) was held.
    bool contains(const QString &path) const;

private:
    QSet<quint64> m_devices; // device numbers
};

} // namespace relo::platform
