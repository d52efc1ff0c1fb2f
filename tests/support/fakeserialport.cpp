#include "fakeserialport.h"

relo::SerialPort::OpenError FakeSerialPort::openPort(int portNumber)
{
    closePort();
    m_portNumber = portNumber;
    m_unplugged = false;
    QString line = QStringLiteral("open %1").arg(portNumber);
    OpenError result = OpenError::None;
    if (!m_present.contains(portNumber)) {
        result = OpenError::Missing;
        line += QStringLiteral(" missing");
    } else if (m_busy.contains(portNumber)) {
        result = OpenError::Busy;
        line += QStringLiteral(" busy");
    }
    m_calls << line;
    m_open = result == OpenError::None;
    return result;
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
