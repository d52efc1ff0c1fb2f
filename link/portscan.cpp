#include "link/portscan.h"

namespace relo {

QList<PortProbe> scanPorts(SerialPort &port)
{
    // Scanning reopens the port under every number; doing that while the owner
    // holds a connection would cut it. The owner closes first, so an open port
    // here is a caller's mistake and the scan finds nothing.
    QList<PortProbe> probes;
    if (port.isOpen())
        return probes;
    for (int n = FirstScannedPort; n <= LastScannedPort; ++n) {
        const SerialPort::OpenError error = port.openPort(n);
        probes.append({n, error, port.device()});
        if (error == SerialPort::OpenError::None)
            port.closePort();
    }
    return probes;
}

QList<int> openedPorts(const QList<PortProbe> &probes)
{
    QList<int> numbers;
    for (const PortProbe &probe : probes) {
        if (probe.error == SerialPort::OpenError::None)
            numbers << probe.number;
    }
    return numbers;
}

} // namespace relo
