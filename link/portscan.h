#pragma once

#include "link/serialport.h"

#include <QList>

namespace relo {

constexpr int FirstScannedPort = 1;
constexpr int LastScannedPort = 10;

// What opening one port number gave during a scan.
struct PortProbe
{
    int number = 0;
    SerialPort::OpenError error = SerialPort::OpenError::Missing;
    PortDevice device; // as far as the port knows devices
};

// Tries ports 1 to 10 in order on `port`, which must be closed, closing each one
// that opened again: what each gave. When `port` is open the scan does nothing,
// so it never cuts a live connection.
QList<PortProbe> scanPorts(SerialPort &port);

// The numbers of the ports among `probes` that opened.
QList<int> openedPorts(const QList<PortProbe> &probes);

} // namespace relo
