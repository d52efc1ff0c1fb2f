#include "fakeserialport.h"

void FakeSerialPort::receive(const QByteArray &bytes)
{
    m_input += bytes;
    if (m_open && m_threshold > 0 && m_input.size() >= m_threshold)
        Q_EMIT received();
}

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
    } else if (m_busy.value(portNumber)) {
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

void FakeSerialPort::setReceiveThreshold(int threshold, int inputLen)
{
    m_calls << QStringLiteral("threshold %1 %2").arg(threshold).arg(inputLen);
    m_threshold = threshold;
    m_inputLen = inputLen;
}

QByteArray FakeSerialPort::drainInput()
{
    const int n = m_inputLen > 0 ? qMin(m_inputLen, int(m_input.size())) : int(m_input.size());
    const QByteArray read = m_input.left(n);
    m_input.remove(0, n);
    m_calls << QStringLiteral("drainInput %1").arg(n);
    return read;
}
