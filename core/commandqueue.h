#pragma once

#include "core/batch.h"
#include "link/frame.h"
#include "core/queuefolder.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

class QTimer;

namespace relo {

class FrameTransmitter;
class SerialPort;

// The road from a change of the outputs to the wire, shared by every process
// that switches them through one ayar.ini (RELOKomut, relo-mqtt).
//
// Changes wait their turn in the order they were made, in a queue kept as files
// beside ayar.ini. The process whose turn it is takes the port (PortNumber from
// ayar.ini; a port held by another program is tried again for BusyRetryMs),
// raises RTS and reads PortData. Once no RELOKomut started before a waiting
// change is still starting up, it takes every change waiting at that moment,
// its own and those of other processes, in order, except a change to a channel
// that an earlier waiting change also touches: that one waits for the next
// batch, so each state of an on-off pulse reaches the wire. The batch is applied
// to the saved mask, the new mask saved once, and four frames sent on the 250 ms
// timer; after the last one RTS drops and the port closes. Every change of the
// batch is then finished with the same outcome, in whichever process it was
// submitted.
//
// A process that dies (even by SIGKILL) never blocks the queue: its place is
// held by file locks that the system releases with it, and its changes are
// dropped; a batch it was sending is sent again by the next process. A process
// waits for as long as the process sending ahead of it makes progress.
//
// The queue of the shared ayar.ini of a system-wide install lives in the shared
// run folder, for every account of its group. Where no queue folder can be made
// beside ayar.ini, the queue lives in a folder of this user's own under
// $XDG_RUNTIME_DIR or /tmp; where neither can be had, the changes of this
// process go out on their own, without waiting for others.
class CommandQueue : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Sent,       // four frames out, the mask saved
        NotSaved,   // four frames out, ayar.ini could not be written
        PortFailed, // the port could not be opened, or broke while sending
    };
    Q_ENUM(Outcome)

    // How long a port held by another program is tried again, and how long a
    // process waits for a sender ahead of it that shows no progress.
    static constexpr int BusyRetryMs = 5000;
    static constexpr int BusyRetryIntervalMs = 100;
    // How often a waiting process looks for its turn or its result.
    static constexpr int PollIntervalMs = 10;
    // How long after its start a RELOKomut that has not joined yet is waited for.
    static constexpr int StartUpWaitMs = 2000;
    // The program that joins with the time it started (its command line holds its
    // change), so is waited for while it starts up.
    static constexpr const char *StartedByProgram = "RELOKomut";

    // `port` is used, not owned; `settingsFolder` holds ayar.ini.
    CommandQueue(SerialPort *port, const QString &settingsFolder, QObject *parent = nullptr);
    ~CommandQueue() override;

    // Joins the queue with one change made at `madeAt` (ns since boot; default:
    // now), which decides its place. Returns the id that finished() reports;
    // nothing is reported before submit() has returned.
    int submit(const MaskChange &change, qint64 madeAt = -1);
    // Nanoseconds since boot, now and when this process started: a program
    // started with its change (RELOKomut) takes its place by its start, which
    // the time it spends starting up does not blur.
    static qint64 now();
    static qint64 processStartTime();

    // While held, a batch that took the port waits (port open, RTS high, mask
    // read) until the hold ends. The command window holds until it is shown.
    void setHeld(bool held);
    // The first frame of a batch leaves at once instead of after 250 ms.
    void setFirstFrameAtOnce(bool atOnce) { m_firstFrameAtOnce = atOnce; }

    // While this process is sending a batch: applies it again to the mask read
    // when the port was taken, saves it again and starts the count of four anew.
    void reapply();
    // Leaves the queue: the changes submitted here are dropped without being
    // finished, and a port taken here is released (drained, RTS low, closed). A
    // batch cut short is sent again by whichever process comes next.
    void cancel();

    bool isSending() const { return m_phase == Phase::Sending; }
    // The mask the outputs were last set to through this queue: PortData, unless
    // a batch since could not be saved in ayar.ini and the file is as it was.
    Mask savedMask() const;
    // The folder of the queue's files for ayar.ini in `settingsFolder`: beside
    // it, or for the shared ayar.ini in the shared run folder.
    static QString queueFolder(const QString &settingsFolder);

Q_SIGNALS:
    // This process took the port for a batch: open, RTS high, PortData read.
    void portTaken(relo::Mask savedMask);
    // A batch is applied and saved (or not); its frames follow.
    void batchStarted(relo::Mask newMask);
    // A change submitted here is done. `error` is one line for standard error,
    // empty for Sent.
    void finished(int id, relo::CommandQueue::Outcome outcome, const QString &error);

private:
    enum class Phase { Idle, Opening, Ready, Sending };

    // The changes submitted here and not yet finished, by ticket name (so in
    // start order).
    struct Own
    {
        int id = 0;
        MaskChange change;
    };

    bool joinFolder();
    QList<Ticket> waitingTickets(QSet<qint64> *joined = nullptr);
    bool othersStarting(qint64 before, const QSet<qint64> &joined) const;

    void step();
    bool takeTurn();
    void endTurn();
    void heartbeat();
    void checkProgress();
    void collectResults();
    void tryOpenPort();
    void startBatch();
    void sendBatch();
    void onOneShotFinished();
    void failBatch(const QString &error);
    void finishBatch(Outcome outcome, const QString &error);
    void report(const QList<int> &ids, Outcome outcome, const QString &error);
    void releasePort();
    QByteArray settingsStamp() const;

    SerialPort *const m_port;
    const QString m_settingsFolder;
    FrameTransmitter *const m_transmitter;
    QTimer *const m_poll;  // waiting for a turn or for a result
    QTimer *const m_retry; // a busy port

    QueueFolder m_folder; // not joined when this process sends on its own

    QMap<QString, Own> m_pending;
    int m_nextId = 1;
    bool m_held = false;
    bool m_firstFrameAtOnce = false;
    bool m_stepQueued = false;

    Phase m_phase = Phase::Idle;
    QElapsedTimer m_openClock;
    int m_portNumber = 1;
    Mask m_loadedMask = 0;
    Mask m_newMask = 0;
    bool m_saved = false;
    QList<Ticket> m_batch;

    QElapsedTimer m_lastBeat; // this process's last sign of progress
    // The last sign of progress seen from the process whose turn it is.
    qint64 m_lastHeartbeat = -1;
    QElapsedTimer m_sinceHeartbeat;
};

} // namespace relo
