#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace relo::platform {

// Requests to stop from outside the program (SIGTERM from a logout, `kill` or a
// service manager, SIGINT from Ctrl+C, SIGHUP from a terminal that closed) as a
// Qt signal on the event loop, so that the program can finish the frame it is
// sending and let go of its port before it ends. The handler itself only writes
// the signal's number into a pipe; the event loop reads it from there.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    // Catches the three signals for the rest of the process's life: none of them
    // ends the process by itself any more, and none is blocked. Best called first
    // thing in main(), before the application object, so that a request during
    // start-up waits for the event loop. False when that failed. Once is enough;
    // calling it again does nothing.
    static bool install();

    // Emits stopRequested() for every request caught since install(), those
    // caught before this object existed included. Inert without install().
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // The status of a program that ended on `signalNumber`: 128 + its number, as
    // a shell reports a process the signal ended.
    static int exitStatus(int signalNumber) { return 128 + signalNumber; }
    // "SIGTERM", "SIGINT", "SIGHUP".
    static QString name(int signalNumber);

Q_SIGNALS:
    void stopRequested(int signalNumber);

private:
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace relo::platform
