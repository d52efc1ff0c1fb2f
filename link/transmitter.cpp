#include "link/transmitter.h"

#include "link/serialport.h"

#include <QTimer>

namespace relo {

FrameTransmitter::FrameTransmitter(SerialPort *port, std::function<Mask()> mask, QObject *parent)
    : QObject(parent), m_port(port), m_mask(std::move(mask)), m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(IntervalMs);
    // The default coarse timer may drift by several milliseconds per tick.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &FrameTransmitter::tick);
}

void FrameTransmitter::startContinuous()
{
    m_mode = Mode::Continuous;
    m_timer->start();
}

void FrameTransmitter::startOneShot(bool firstFrameAtOnce)
{
    m_mode = Mode::OneShot;
    m_ticks = 0;
    m_timer->start();
    if (firstFrameAtOnce)
        tick();
}

void FrameTransmitter::stop()
{
    m_timer->stop();
}

bool FrameTransmitter::isActive() const
{
    return m_timer->isActive();
}

void FrameTransmitter::tick()
{
    if (m_mode == Mode::Continuous) {
        // RTS goes high on every second frame.
        m_blink = !m_blink;
        const bool high = !m_blink;
        Q_EMIT rtsChanged(high);
        m_port->setRts(high);
    } else {
        ++m_ticks;
    }

    const QByteArray frame = buildFrame(m_mask());
    if (!m_port->send(frame)) {
        // Nothing more goes out until the owner starts the timer again.
        m_timer->stop();
        Q_EMIT sendFailed();
        return;
    }
    Q_EMIT frameSent(frame);

    if (m_mode == Mode::OneShot && m_ticks >= OneShotFrames) {
        m_timer->stop();
        // The fourth frame must leave the line before RTS drops and the port closes.
        m_port->drain();
        m_port->setRts(false);
        m_port->closePort();
        Q_EMIT oneShotFinished();
    }
}

} // namespace relo
