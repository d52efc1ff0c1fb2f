#include "support/fakeserialport.h"

relo::SerialPort::OpenError FakeSerialPort::openPort(int portNumber)
{
    closePort();
    m_portNumber = portNumber;
    m_unplugged = false;
    const bool missing = !m_present.contains(portNumber);
    const bool busy = !missing && m_busy.contains(portNumber);
    m_calls << QStringLiteral("open %1%2")
                   .arg(portNumber)
                   .arg(missing ? " missing"
                        : busy  ? " busy"
                                : "");
    m_open = !missing && !busy;
    return missing ? OpenError::Missing : busy ? OpenError::Busy : OpenError::None;
}

void FakeSerialPort::closePort()
{
    if (!m_open)
        return;
    m_calls << QStringLiteral("close");
    m_open = m_rts = false;
}

void FakeSerialPort::setRts(bool on)
{
    m_calls << QStringLiteral("rts %1").arg(on ? 1 : 0);
    m_rts = m_open && on;
}

bool FakeSerialPort::send(const QByteArray &bytes)
{
    if (!m_open)
        return false;
    if (m_unplugged) {
        m_open = m_rts = false;
        m_calls << QStringLiteral("send failed");
        // As the real port does: failed() comes from the event loop, never from
        // inside the owner's send().
        QMetaObject::invokeMethod(this, &FakeSerialPort::failed, Qt::QueuedConnection);
        return false;
    }
    m_calls << QStringLiteral("send %1").arg(bytes.size());
    m_writes << bytes;
    return true;
}
