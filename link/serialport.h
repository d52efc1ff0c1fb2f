#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace relo {

// The device behind a port number. `path` is the device that is opened, empty
// when nothing is there now; `adapter` is what the user knows it by (its
// /dev/serial/by-id link, or the path itself). A known adapter that is not
// plugged in has an adapter and no path.
struct PortDevice
{
    QString path;
    QString adapter;
};

// The serial port as every program uses it. Line settings are fixed: 2400 baud,
// 8 data bits, no parity, 1 stop bit, no flow control. The real implementation
// wraps QSerialPort; tests substitute a recording fake.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    enum class OpenError {
        None,         // the port is open
        Missing,      // no device behind this port number
        Busy,         // the device exists but this or another process holds it
        NoPermission, // this user may not read and write the device
        StaleLock,    // a lock file left by a program that has ended, which this
                      // user may not remove, holds the device
        Other,        // any other failure (not a serial device, I/O error)
    };
    Q_ENUM(OpenError)

    using QObject::QObject;

    // Opens port `portNumber` (1 and up) with the fixed line settings. A port that
    // is already open is closed first. A failed open leaves the port closed.
    virtual OpenError openPort(int portNumber) = 0;
    // Lets every byte handed to send() leave the line, then closes. Does nothing
    // when the port is closed.
    virtual void closePort() = 0;
    virtual bool isOpen() const = 0;
    // The number given to the last openPort(), 0 before the first.
    virtual int portNumber() const = 0;
    // The device the last openPort() found behind its number, as far as this port
    // knows devices (a fake knows none).
    virtual PortDevice device() const { return {}; }
    // Forgets what it knows of the devices present, so the next openPort() looks
    // afresh (a list rebuilt because devices came or went).
    virtual void refreshDevices() {}

    // Drives the RTS output line; ignored while the port is closed.
    virtual void setRts(bool on) = 0;
    // One write. Returns false (and writes nothing) when the port is closed or
    // the write fails; bytes accepted here are never dropped by closePort().
    virtual bool send(const QByteArray &bytes) = 0;
    // Blocks until every byte handed to send() has left the line.
    virtual void drain() = 0;

    // Receive notification: received() fires once `threshold` bytes are waiting
    // (0 = never); drainInput() then reads at most `inputLen` bytes (0 = all).
    virtual void setReceiveThreshold(int threshold, int inputLen) = 0;
    // Reads once and returns what was read (the caller discards it).
    virtual QByteArray drainInput() = 0;

Q_SIGNALS:
    void received();
    // The open port broke (adapter unplugged, I/O error). The port is closed
    // when this is emitted; the owner decides what the user sees. Emitted from
    // the event loop, never from inside a call on the port, so a handler may
    // close, reopen or delete the port.
    void failed();
};

} // namespace relo
