#pragma once

#include "link/serialport.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QStringList>

// A SerialPort that records every call in order and talks to no device.
//
// calls() holds one line per call:
//   "open 3" / "open 3 missing" / "open 3 busy", "close", "rts 1" / "rts 0",
//   "send <n>" (n bytes, the bytes themselves are in writes()), "send failed",
//   "drain", "threshold <t> <len>".
// Ports that "exist" are set with setPresent(); setBusy() makes one fail as held
// by another program; unplug() makes the open port fail as a pulled adapter does:
// the next send() returns false, the port closes and failed() is emitted from
// the event loop.
class FakeSerialPort : public relo::SerialPort
{
    Q_OBJECT
public:
    using relo::SerialPort::SerialPort;

    void setPresent(const QList<int> &ports) { m_present = QSet<int>(ports.begin(), ports.end()); }
    void setBusy(int port) { m_busy = {port}; }
    void unplug() { m_unplugged = true; }

    const QStringList &calls() const { return m_calls; }
    const QList<QByteArray> &writes() const { return m_writes; }
    bool rts() const { return m_rts; }
    void clearLog()
    {
        m_calls.clear();
        m_writes.clear();
    }

    OpenError openPort(int portNumber) override;
    void closePort() override;
    bool isOpen() const override { return m_open; }
    int portNumber() const override { return m_portNumber; }
    void setRts(bool on) override;
    bool send(const QByteArray &bytes) override;
    void drain() override { m_calls << QStringLiteral("drain"); }
    void setReceiveThreshold(int threshold, int inputLen) override
    {
        m_calls << QStringLiteral("threshold %1 %2").arg(threshold).arg(inputLen);
    }
    QByteArray drainInput() override { return {}; } // nothing ever arrives

private:
    QSet<int> m_present;
    QSet<int> m_busy;
    QStringList m_calls;
    QList<QByteArray> m_writes;
    bool m_open = false;
    bool m_rts = false;
    bool m_unplugged = false;
    int m_portNumber = 0;
};
