#pragma once

#include "link/portscan.h"
#include "link/realserialport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QString>

#include <array>

namespace relo {

// Port numbers 1 to 10 that stay with their adapter, shared by RELO and RELOKomut.
//
// An adapter is known by its link under /dev/serial/by-id, else its link under
// /dev/serial/by-path, else its device path. The first time an adapter is seen
// it gets the lowest number no known adapter holds (several new ones at once in
// the order USB, ACM, the rest); after that the number stays with it, plugged in
// or not. When all ten are held, the adapter not plugged in that was seen the
// longest time ago gives its number up.
//
// The registry is the file portlar.ini beside the shared ayar.ini where the
// accounts share it (SettingsPlace::Shared), else in $XDG_CONFIG_HOME/RELO (~/.config/RELO),
// or, for a user who has no such folder and cannot make one, the portlar.ini
// beside the program, read as far as it can be (numbers given to new adapters
// then hold for the run); section [Portlar], one line per number: the time the adapter was last
// seen (UTC), a blank, the adapter:
//     2=2026-12-06T14:03:00Z /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0
// A line without the time is an adapter never seen. A file that cannot be read
// or holds no line of the section is rebuilt.
class PortRegistry
{
public:
    static constexpr int Size = LastScannedPort;

    // `file`: the registry. `serialFolder`: where the by-id and by-path links are;
    // the kernel's list of serial devices counts only beside /dev/serial itself.
    explicit PortRegistry(const QString &file = defaultFile(),
                          const QString &serialFolder = defaultSerialFolder());

    static QString defaultFile();
    // RELO_SERIAL_DIR when set (a folder of links of one's own, as the tests
    // use), otherwise /dev/serial.
    static QString defaultSerialFolder();

    // The device behind `portNumber` now: the registered adapter, and its device
    // path while it is plugged in. Looks at the devices present and registers
    // new adapters first, at most once a second.
    PortDevice device(int portNumber);
    // The next device() looks at the devices present at once.
    void refreshSoon() { m_age.invalidate(); }

private:
    struct Entry
    {
        QString adapter; // empty: the number is free
        QDateTime seen;  // invalid: never
    };

    // The value of an entry's line in the file.
    static QString line(const Entry &entry);
    void refresh();
    // The number `adapter` holds, 0 when none; the lowest free one for "".
    int numberOf(const QString &adapter) const;
    // Gives `adapter` a number (see above); 0 when all ten are plugged in.
    int assign(const QString &adapter);

    const QString m_file;
    const QString m_serialFolder;
    std::array<Entry, Size> m_entries;
    QMap<int, QString> m_plugged; // number -> device path
    QElapsedTimer m_age;
};

// Port numbers through a registry of its own, for RealSerialPort::setResolver().
RealSerialPort::Resolver registryResolver();

// A RealSerialPort whose port numbers go through the registry.
RealSerialPort *registeredSerialPort(QObject *parent = nullptr);

} // namespace relo
