#pragma once

#include "serialport.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QStringList>

namespace relo {

// SerialPort over QSerialPort (object name of the port: "MSComm1"). Port numbers
// map to devices through devicePathForPort(). Qt's lock file makes a device held
// by another process fail to open, even for root.
//
// openPort() lowers RTS and leaves DTR as the driver sets it. A device that
// exists but is locked or in exclusive use is Busy; one this user may not read
// and write is Other. Errors that break the open port (unplugged adapter, I/O
// error) make isOpen() false at once; the port is then closed and failed()
// emitted from the event loop, unless the owner closes or reopens it first.
class RealSerialPort : public SerialPort
{
    Q_OBJECT
public:
    explicit RealSerialPort(QObject *parent = nullptr);
    ~RealSerialPort() override;

    OpenError openPort(int portNumber) override;
    void closePort() override;
    bool isOpen() const override;
    int portNumber() const override { return m_portNumber; }
    void setRts(bool on) override;
    bool send(const QByteArray &bytes) override;
    void drain() override;
    void setReceiveThreshold(int threshold, int inputLen) override;
    QByteArray drainInput() override;

private:
    QString devicePath(int portNumber);
    bool driverHasRoom() const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort *const m_serial;
    int m_portNumber = 0;
    int m_generation = 0; // successful opens so far
    bool m_broken = false;
    int m_threshold = 0;
    int m_inputLen = 0;
    // The system's device list, reused for a moment: listing it takes tens of
    // milliseconds, and a scan maps ten port numbers in a row.
    QStringList m_systemPorts;
    QElapsedTimer m_systemPortsAge;
};

} // namespace relo
