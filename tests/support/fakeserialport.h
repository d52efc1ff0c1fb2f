#pragma once

#include "serialport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

// A SerialPort that records every call in order and talks to no device.
//
// calls() holds one line per call:
//   "open 3" / "open 3 missing" / "open 3 busy", "close", "rts 1" / "rts 0",
//   "send <n>" (n bytes, the bytes themselves are in writes()), "send failed",
//   "drain", "threshold <t> <len>", "drainInput <n>".
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
    void setBusy(int port, bool busy = true) { m_busy[port] = busy; }
    void unplug() { m_unplugged = true; }
    // Bytes arriving from the far end; emits received() once the threshold is met.
    void receive(const QByteArray &bytes);

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
    void setReceiveThreshold(int threshold, int inputLen) override;
    QByteArray drainInput() override;

private:
    QSet<int> m_present;
    QHash<int, bool> m_busy;
    QStringList m_calls;
    QList<QByteArray> m_writes;
    QByteArray m_input;
    bool m_open = false;
    bool m_rts = false;
    bool m_unplugged = false;
    int m_portNumber = 0;
    int m_threshold = 0;
    int m_inputLen = 0;
};
