#pragma once

#include <QString>

#include <functional>

namespace relo {

class SerialPort;

constexpr int FirstScannedPort = 1;
constexpr int LastScannedPort = 10;

// The list entry of port n: "Com - n".
QString portEntry(int portNumber);

// The port number of a list entry: the text from its seventh character on, read
// as a whole number rounded down; 0 when nothing numeric is there.
int portFromEntry(const QString &entry);

// Tries ports 1 to 10 in order on `port`, which must be closed. For each port
// that opens it calls `addEntry` with its entry, closes it again and raises
// `count` by one. Ports that are missing or held by another program are left out.
// When `port` is open the scan does nothing, so it never cuts a live connection.
void scanPorts(SerialPort &port, const std::function<void(const QString &entry)> &addEntry,
               int &count);

} // namespace relo
