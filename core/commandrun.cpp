#include "core/commandrun.h"

#include "core/commandqueue.h"

namespace relo {

CommandRun::CommandRun(const QString &commandText, SerialPort *port, const QString &settingsFolder,
                       QObject *parent)
    : QObject(parent), m_command(applyCommand(commandText, 0)),
      m_queue(new CommandQueue(port, settingsFolder, this))
{
    // The command is checked before the port is touched: a rejected command must
    // not key the transmitter, not even for a moment.
    if (!m_command.accepted) {
        m_state = State::Rejected;
        m_error = QStringLiteral("Hatalı komut: \"%1\"").arg(commandText);
        return;
    }
    connect(m_queue, &CommandQueue::finished, this,
            [this](int, CommandQueue::Outcome outcome, const QString &error) {
                m_error = error;
                switch (outcome) {
                case CommandQueue::Outcome::Sent:
                    m_state = State::Sent;
                    break;
                case CommandQueue::Outcome::NotSaved:
                    m_state = State::NotSaved;
                    break;
                case CommandQueue::Outcome::PortFailed:
                    m_state = State::Failed;
                    break;
                }
                Q_EMIT finished(status());
            });
    // The queue may take the port before the command is applied; it waits there.
    m_queue->setHeld(true);
    m_queue->submit(m_command.change, CommandQueue::processStartTime());
}

void CommandRun::apply()
{
    if (m_state != State::Waiting)
        return;
    if (m_queue->isSending())
        m_queue->reapply();
    m_queue->setHeld(false);
}

void CommandRun::stop(const QString &error)
{
    m_queue->cancel();
    if (m_state == State::Waiting) {
        m_state = State::Stopped;
        m_error = error;
    }
}

ExitStatus CommandRun::status() const
{
    switch (m_state) {
    case State::Sent:
        return ExitStatus::Done;
    case State::NotSaved:
        return ExitStatus::NotSaved;
    case State::Rejected:
        return ExitStatus::Rejected;
    case State::Waiting:
    case State::Failed:
    case State::Stopped:
        break;
    }
    return ExitStatus::PortFailed;
}

QString CommandRun::statusText() const
{
    return m_state == State::Failed ? QStringLiteral("Port Hatası") : m_command.statusText;
}

} // namespace relo
