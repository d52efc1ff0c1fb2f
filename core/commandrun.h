#pragma once

#include "core/commandgrammar.h"

#include <QObject>
#include <QString>

namespace relo {

class CommandQueue;
class SerialPort;

// The exit status of a command run (and of the command program).
enum class ExitStatus {
    Done = 0,       // four frames sent and the mask saved; port setup: nothing failed
    PortFailed = 1, // the port could not be opened, or the frames did not all go out
    Rejected = 2,   // the command (or the use of the program) was rejected
    NotSaved = 3,   // ayar.ini could not be written (a command: the frames did go out)
};

// One command (03-1) from its text to the wire, as the command program runs it,
// with no window. The text is checked first: a rejected command never joins the
// queue and never touches the port. An accepted one joins the queue of this
// ayar.ini (CommandQueue) at once, placed by the start of this process, and is
// held there, port taken and mask read, until apply() lets it go.
class CommandRun : public QObject
{
    Q_OBJECT
public:
    // `port` is used, not owned; `settingsFolder` holds ayar.ini.
    CommandRun(const QString &commandText, SerialPort *port, const QString &settingsFolder,
               QObject *parent = nullptr);

    bool isRejected() const { return m_state == State::Rejected; }
    // Accepted and neither finished nor stopped.
    bool isWaiting() const { return m_state == State::Waiting; }

    // While waiting: the first time, the command goes on its way; later, while
    // its batch is being sent, the batch is applied again from the mask read
    // when the port was taken, and the count of four frames starts anew.
    void apply();
    // Leaves the queue and lets go of the port. A run still waiting ends with
    // PortFailed and `error` as its error line.
    void stop(const QString &error);

    ExitStatus status() const;
    // "Çıkış-3 Açıldı" / "Çıkış-3 Kapandı", "Hatalı komut" for a rejected
    // command, "Port Hatası" once the port failed.
    QString statusText() const;
    // One line in Turkish saying what went wrong; empty when nothing did.
    QString errorText() const { return m_error; }

Q_SIGNALS:
    // The command went out (Done, NotSaved) or could not (PortFailed).
    void finished(relo::ExitStatus status);

private:
    enum class State { Waiting, Sent, NotSaved, Failed, Rejected, Stopped };

    const CommandResult m_command;
    CommandQueue *const m_queue;
    State m_state = State::Waiting;
    QString m_error;
};

} // namespace relo
