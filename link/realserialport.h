#pragma once

#include "link/serialport.h"

#include "platform/deviceholders.h"
#include "platform/lockfiles.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QStringList>

#include <functional>

namespace relo {

// The line the radio module listens on: 2400 baud, 8 data bits, no parity, 1 stop
// bit, no flow control.
void applyLineSettings(QSerialPort &serial);

// SerialPort over QSerialPort. Port numbers
// map to devices through the resolver the owner sets, or devicePathForPort()
// without one; RELO_COM<n> overrides both for port n.
//
// openPort() lowers RTS and leaves DTR as the driver sets it. A device that
// exists but is locked, in exclusive use or simply open in another process (as
// far as this user may see other processes) is Busy, even for root; one this
// user may not read and write is NoPermission; one whose lock file a program
// that has ended left behind, and this user may not remove, is StaleLock. Errors that break the
// open port (unplugged adapter, I/O error) make isOpen() false at once; the port is then closed and
// failed() emitted from the event loop, unless the owner closes or reopens it first.
class RealSerialPort : public SerialPort
{
    Q_OBJECT
public:
    // Port number (1 and up) -> the device behind it now.
    using Resolver = std::function<PortDevice(int portNumber)>;

    explicit RealSerialPort(QObject *parent = nullptr);
    ~RealSerialPort() override;

    // `refresh`, when given, makes the resolver look at the devices afresh.
    void setResolver(Resolver resolver, std::function<void()> refresh = {})
    {
        m_resolver = std::move(resolver);
        m_refresh = std::move(refresh);
    }

    OpenError openPort(int portNumber) override;
    void closePort() override;
    bool isOpen() const override;
    int portNumber() const override { return m_portNumber; }
    PortDevice device() const override { return m_device; }
    void refreshDevices() override;
    void setRts(bool on) override;
    bool send(const QByteArray &bytes) override;
    void drain() override;
    void setReceiveThreshold(int threshold, int inputLen) override;
    QByteArray drainInput() override;

private:
    PortDevice resolve(int portNumber);
    bool openElsewhere(const QString &path);
    bool driverHasRoom() const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort *const m_serial;
    Resolver m_resolver;
    std::function<void()> m_refresh;
    int m_portNumber = 0;
    PortDevice m_device;
    int m_generation = 0; // successful opens so far
    bool m_broken = false;
    int m_threshold = 0;
    int m_inputLen = 0;
    // The system's device list, reused for a moment: listing it takes tens of
    // milliseconds, and a scan maps ten port numbers in a row.
    QStringList m_systemPorts;
    QElapsedTimer m_systemPortsAge;
    // The devices other processes hold open, likewise reused within one scan.
    platform::HeldDevices m_openElsewhere;
    QElapsedTimer m_openElsewhereAge;
};

// The lock-file questions are the platform's (lockfiles.h).
using platform::isStaleLock;
using platform::lockFilePath;

} // namespace relo
