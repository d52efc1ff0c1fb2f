#pragma once

#include "core/commandqueue.h"
#include "link/frame.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringView>

#include <optional>

class QTimer;

namespace relo {

class SerialPort;
class StateWatcher;

// What a network service over the eight outputs does whatever its protocol:
// the queue client, the watch on ayar.ini, the state it shows, the failure
// line, and the stop. A front-end (relo-mqtt, relo-web) only translates its
// messages into submit() and shows what stateChanged() and finished() say.
//
// The state shown is the one on the wire: a batch's as it starts (kept even
// when ayar.ini could not be written), that of ayar.ini after another program
// changed the file, and, when changes could not be sent, the mask the queue
// last sent (ayar.ini's, or the one it keeps when a batch could not be saved
// there), so that a switch goes back to what the board really has.
//
// One line on standard error per event, in Turkish.
class ServiceCore : public QObject
{
    Q_OBJECT
public:
    // How long a stop waits for changes still on their way to the wire.
    static constexpr int StopWaitMs = 15000;

    // The process-wide part, once, before the service starts: a peer that
    // closes its connection while something is written to it does not end the
    // program, and SIGTERM, SIGINT and SIGHUP become stop requests. False, with
    // a line on standard error, when the signals cannot be caught.
    static bool prepareProcess();

    // `port` is used, not owned; `settingsFolder` holds ayar.ini.
    ServiceCore(const QString &settingsFolder, SerialPort *port, QObject *parent = nullptr);

    // Reads the saved mask, starts watching ayar.ini and listening for stop
    // requests; returns the mask.
    Mask start();
    Mask mask() const { return m_mask; }
    QString settingsFile() const;
    bool isStopping() const { return m_stopping; }

    // Logs "Komut: `what`" and queues `change`; finished() reports the id.
    int submit(const QString &what, const MaskChange &change);
    // Added to the failure line when changes did not go out ("; durum yeniden
    // yayımlandı").
    void setFailureNote(const QString &note) { m_failureNote = note; }
    // One line on standard error.
    static void log(const QString &line);

    // Stops taking changes (stopping()), waits up to StopWaitMs for those under
    // way, then leaves (ending(), stopped()).
    void stop();

Q_SIGNALS:
    // The state shown is now `mask`; `changed` holds the channels that differ
    // from before, `again` those to show again although they did not change
    // (changes that did not go out: whoever asked sees the switch go back).
    void stateChanged(relo::Mask mask, relo::Mask changed, relo::Mask again);
    // A change submitted here is done; the state is already up to date.
    void finished(int id, relo::CommandQueue::Outcome outcome, const QString &error);
    void stopping();
    // The changes under way are done (or the wait ran out): answer who waits.
    void ending();
    void stopped();

private:
    void onBatchStarted(Mask newMask);
    void onFinished(int id, CommandQueue::Outcome outcome, const QString &error);
    void onFileChanged(Mask saved);
    void reportFailures();
    void adopt(Mask mask, Mask again);
    void finishStopWhenDone();
    void finishStop();

    const QString m_settingsFolder;
    CommandQueue *const m_queue;
    StateWatcher *const m_watcher; // PortData in ayar.ini
    QTimer *const m_stopLimit;

    Mask m_mask = 0; // as on the wire, and as shown
    QHash<int, MaskChange> m_underWay;
    // Changes that could not be sent, reported once per batch.
    Mask m_failedChannels = 0;
    QString m_failure;
    QString m_failureNote;
    bool m_failureQueued = false;
    bool m_stopping = false;
};

// The payloads every service takes for one channel: "ON" or "1" switches it
// on, "OFF" or "0" off; compared whole, so one of any size is read safely.
std::optional<MaskChange> switchChange(int channel, const QByteArray &payload);
// The whole mask: 0..255 in at most three digits, nothing else.
std::optional<MaskChange> wholeMaskChange(const QByteArray &payload);
// A channel as a service names it: one digit 1..8, nothing else.
std::optional<int> channelNumber(QStringView text);

} // namespace relo
