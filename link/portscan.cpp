#include "portscan.h"

#include "serialport.h"

#include <cmath>
#include <limits>

namespace relo {

QString portEntry(int portNumber)
{
    return QStringLiteral("Com - %1").arg(portNumber);
}

int portFromEntry(const QString &entry)
{
    // The text from the seventh character on: blanks, an optional sign, then
    // ASCII digits with at most one decimal point; reading stops at the first
    // other character. The number is rounded down; no digit at all reads as 0,
    // and so does a value no int can hold.
    const QString rest = entry.mid(6);
    qsizetype i = 0;
    while (i < rest.size() && (rest.at(i) == u' ' || rest.at(i) == u'\t'))
        ++i;
    QString number;
    if (i < rest.size() && (rest.at(i) == u'+' || rest.at(i) == u'-'))
        number += rest.at(i++);
    bool digit = false;
    bool point = false;
    for (; i < rest.size(); ++i) {
        const QChar c = rest.at(i);
        if (c >= u'0' && c <= u'9') {
            digit = true;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
        number += c;
    }
    if (!digit)
        return 0;
    bool ok = false;
    const double value = std::floor(number.toDouble(&ok));
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return 0;
    return int(value);
}

void scanPorts(SerialPort &port, const std::function<void(const QString &entry)> &addEntry,
               int &count)
{
    // Scanning reopens the port under every number; doing that while the owner
    // holds a connection would cut it. The owner closes first, so an open port
    // here is a caller's mistake and the scan lists nothing.
    if (port.isOpen())
        return;
    for (int n = FirstScannedPort; n <= LastScannedPort; ++n) {
        if (port.openPort(n) != SerialPort::OpenError::None)
            continue;
        addEntry(portEntry(n));
        port.closePort();
        ++count;
    }
}

} // namespace relo
