#include "core/commandqueue.h"

#include "platform/files.h"
#include "core/porterror.h"
#include "platform/processes.h"
#include "link/serialport.h"
#include "core/settingsfile.h"
#include "core/settingsfolder.h"
#include "link/transmitter.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace relo {

namespace {

const QString FolderName = QStringLiteral(".ayar.ini.kuyruk");
const QString SharedFolderName = QStringLiteral("kuyruk");

} // namespace

CommandQueue::CommandQueue(SerialPort *port, const QString &settingsFolder, QObject *parent)
    : QObject(parent), m_port(port), m_settingsFolder(settingsFolder),
      m_transmitter(new FrameTransmitter(
          port, [this] { return m_newMask; }, this)),
      m_poll(new QTimer(this)), m_retry(new QTimer(this))
{
    m_poll->setInterval(PollIntervalMs);
    connect(m_poll, &QTimer::timeout, this, &CommandQueue::step);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Opening)
            tryOpenPort();
        else if (m_phase == Phase::Ready && !m_held)
            startBatch();
    });
    connect(m_transmitter, &FrameTransmitter::frameSent, this, &CommandQueue::heartbeat);
    connect(m_transmitter, &FrameTransmitter::oneShotFinished, this,
            &CommandQueue::onOneShotFinished);
    connect(m_transmitter, &FrameTransmitter::sendFailed, this, [this] {
        failBatch(
            QStringLiteral("Port Hatası: %1 gönderim sırasında koptu").arg(portName(m_portNumber)));
    });
}

CommandQueue::~CommandQueue()
{
    cancel();
}

QString CommandQueue::queueFolder(const QString &settingsFolder)
{
    // The shared ayar.ini's queue lives in the shared run folder: it need not
    // outlive a reboot, and its traffic stays out of the folder that the
    // services watch.
    if (isSharedStateFolder(settingsFolder))
        return QDir(sharedRunFolder()).filePath(SharedFolderName);
    return QDir(settingsFolder).filePath(FolderName);
}

bool CommandQueue::joinFolder()
{
    if (m_folder.isJoined())
        return true;
    // Its own folder (for the shared ayar.ini in the shared run folder, else
    // beside ayar.ini) where this user may make it; the shared ayar.ini's queue
    // beside it, should the run folder be missing; otherwise (an install the
    // user cannot write, a read-only shipped ayar.ini) in a folder of this
    // user's own.
    if (m_folder.join(queueFolder(m_settingsFolder)))
        return true;
    if (isSharedStateFolder(m_settingsFolder) &&
        m_folder.join(QDir(m_settingsFolder).filePath(FolderName)))
        return true;
    const QString own = QueueFolder::privateFolderFor(settingsPath(m_settingsFolder));
    return !own.isEmpty() && m_folder.join(own);
}

qint64 CommandQueue::now()
{
    return platform::bootClockNs();
}

qint64 CommandQueue::processStartTime()
{
    const qint64 started = platform::processStartNs();
    return started >= 0 ? started : now();
}

// Processes of the command program (of this user, or of every account that
// shares the queue's folder) that started before `before`, and not long ago, and
// have not joined the queue yet, so are still starting up.
bool CommandQueue::othersStarting(qint64 before, const QSet<qint64> &joined) const
{
    const qint64 recent = now() - qint64(StartUpWaitMs) * 1000000;
    const QString shared = platform::isSharedFolder(m_folder.path()) ? m_folder.path() : QString();
    const QList<platform::StartedProcess> processes =
        platform::processesNamed(StartedByProgram, shared);
    return std::any_of(processes.begin(), processes.end(), [&](const platform::StartedProcess &p) {
        return !joined.contains(p.pid) && p.startNs > recent && p.startNs < before;
    });
}

int CommandQueue::submit(const MaskChange &change, qint64 madeAt)
{
    const int id = m_nextId++;
    if (madeAt < 0)
        madeAt = now();
    QString name;
    if (joinFolder())
        name = m_folder.add(change, madeAt);
    if (name.isEmpty()) {
        // No queue folder: this change goes out on its own.
        name = TicketName{madeAt, qulonglong(id), QString()}.toString();
    }
    m_pending.insert(name, {id, change});
    // From the event loop, so that nothing is reported before the caller knows the id.
    if (!m_stepQueued) {
        m_stepQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_stepQueued = false;
                step();
            },
            Qt::QueuedConnection);
    }
    return id;
}

// The changes waiting now, in order: the queue's, or without a folder this
// process's own.
QList<Ticket> CommandQueue::waitingTickets(QSet<qint64> *joined)
{
    if (m_folder.isJoined())
        return m_folder.waiting(joined);
    QList<Ticket> tickets;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
        tickets << Ticket{it.key(), it.value().change};
    return tickets;
}

void CommandQueue::setHeld(bool held)
{
    m_held = held;
    if (!held && m_phase == Phase::Ready)
        startBatch();
}

void CommandQueue::step()
{
    if (m_phase != Phase::Idle)
        return;
    const QPointer<CommandQueue> alive(this);
    collectResults();
    if (!alive)
        return;
    if (m_pending.isEmpty()) {
        m_poll->stop();
        return;
    }
    if (!takeTurn()) {
        if (!m_poll->isActive()) {
            m_lastHeartbeat = -1;
            m_poll->start();
        }
        checkProgress();
        return;
    }
    m_poll->stop();
    m_lastBeat.invalidate(); // a new turn shows at once
    // The previous sender may have finished some of this process's changes just
    // before it let go.
    collectResults();
    if (!alive)
        return;
    if (m_pending.isEmpty()) {
        endTurn();
        return;
    }
    heartbeat();
    // Read now, not at start: the port may have been changed meanwhile.
    m_portNumber = savedPort(m_settingsFolder); // port 1 when nothing usable is saved
    m_phase = Phase::Opening;
    m_openClock.start();
    tryOpenPort();
}

bool CommandQueue::takeTurn()
{
    return m_folder.takeTurn();
}

void CommandQueue::endTurn()
{
    m_folder.endTurn();
}

void CommandQueue::heartbeat()
{
    // Often enough for a waiting process to tell progress from a stall; not on
    // every frame, which would stir the file system while frames are timed.
    constexpr qint64 HeartbeatMs = 1000;
    if (!m_folder.isJoined() || (m_lastBeat.isValid() && !m_lastBeat.hasExpired(HeartbeatMs)))
        return;
    m_lastBeat.start();
    m_folder.touchTurn();
}

// Waiting: the process whose turn it is shows progress by touching the turn
// file. One that shows none for BusyRetryMs is stuck, and the changes waiting
// here give up as they would on a port held by any other program.
void CommandQueue::checkProgress()
{
    const qint64 seen = m_folder.turnTouchedNs();
    if (seen != m_lastHeartbeat || !m_sinceHeartbeat.isValid()) {
        m_lastHeartbeat = seen;
        m_sinceHeartbeat.start();
        return;
    }
    if (!m_sinceHeartbeat.hasExpired(BusyRetryMs))
        return;
    const QString error =
        portErrorLine(savedPort(m_settingsFolder), SerialPort::OpenError::Busy, {});
    QList<int> ids;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        m_folder.remove(it.key());
        ids << it.value().id;
    }
    m_pending.clear();
    m_poll->stop();
    report(ids, Outcome::PortFailed, error);
}

// Outcomes that another process wrote for changes submitted here.
void CommandQueue::collectResults()
{
    QList<std::pair<int, std::pair<Outcome, QString>>> done;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const std::optional<QByteArray> text = m_folder.takeResult(it.key());
        if (!text) {
            ++it;
            continue;
        }
        const int lineEnd = text->indexOf('\n');
        const int outcome = text->left(lineEnd).toInt();
        done.append({it.value().id,
                     {outcome == int(Outcome::Sent)       ? Outcome::Sent
                      : outcome == int(Outcome::NotSaved) ? Outcome::NotSaved
                                                          : Outcome::PortFailed,
                      lineEnd < 0 ? QString() : QString::fromUtf8(text->mid(lineEnd + 1))}});
        it = m_pending.erase(it);
    }
    for (const auto &[id, result] : done)
        report({id}, result.first, result.second);
}

void CommandQueue::tryOpenPort()
{
    if (m_phase != Phase::Opening)
        return;
    heartbeat();
    const SerialPort::OpenError error = m_port->openPort(m_portNumber);
    if (error == SerialPort::OpenError::None) {
        m_port->setRts(true);
        // The mask is read only now, with the turn held: whoever sent before may
        // just have saved a newer one.
        m_loadedMask = savedMask();
        m_phase = Phase::Ready;
        Q_EMIT portTaken(m_loadedMask);
        if (!m_held && m_phase == Phase::Ready)
            startBatch();
        return;
    }
    if (error == SerialPort::OpenError::Busy && !m_openClock.hasExpired(BusyRetryMs)) {
        m_retry->start(BusyRetryIntervalMs);
        return;
    }
    failBatch(portErrorLine(m_portNumber, error, m_port->device()));
}

void CommandQueue::startBatch()
{
    QSet<qint64> joined;
    const QList<Ticket> tickets = waitingTickets(&joined);
    // A RELOKomut started before a waiting change but still starting up comes
    // first: the batch waits for it to join.
    qint64 newest = 0;
    for (const Ticket &ticket : tickets)
        newest = qMax(newest, TicketName::parse(ticket.name).value_or(TicketName{}).madeAt);
    if (m_folder.isJoined() && othersStarting(newest, joined)) {
        heartbeat();
        m_retry->start(PollIntervalMs);
        return;
    }
    m_batch = nextBatch(tickets);
    // Tickets that could not be read back (the queue folder failing under this
    // process) do not hold up this process's own changes.
    if (m_batch.isEmpty() && !m_pending.isEmpty())
        m_batch << Ticket{m_pending.firstKey(), m_pending.first().change};
    if (m_batch.isEmpty()) {
        // Everything here was finished or withdrawn meanwhile.
        releasePort();
        m_phase = Phase::Idle;
        endTurn();
        return;
    }
    sendBatch();
}

void CommandQueue::sendBatch()
{
    // Always from the mask read when the port was taken, so sending again gives
    // the same mask.
    m_newMask = appliedTo(m_loadedMask, m_batch);
    m_saved = writeSetting(m_settingsFolder, PortDataKey, QString::number(m_newMask));
    if (m_saved)
        m_folder.forgetUnsaved();
    else
        m_folder.keepUnsaved(m_newMask, settingsStamp());
    m_phase = Phase::Sending;
    Q_EMIT batchStarted(m_newMask);
    m_transmitter->startOneShot(m_firstFrameAtOnce);
}

// The size and modification time of ayar.ini: whether it is still the file a
// mask that could not be saved was meant for.
QByteArray CommandQueue::settingsStamp() const
{
    const QFileInfo file(settingsPath(m_settingsFolder));
    if (!file.exists())
        return "-";
    return QByteArray::number(file.size()) + ':' +
           QByteArray::number(file.lastModified().toMSecsSinceEpoch());
}

// The mask the outputs were last set to: PortData from ayar.ini, unless a batch
// since could not be saved there (a read-only install, a service account); the
// queue's folder then holds its mask for as long as ayar.ini stays as it was.
Mask CommandQueue::savedMask() const
{
    return m_folder.unsaved(settingsStamp()).value_or(relo::savedMask(m_settingsFolder));
}

void CommandQueue::reapply()
{
    if (m_phase == Phase::Sending)
        sendBatch();
}

void CommandQueue::onOneShotFinished()
{
    if (m_saved)
        finishBatch(Outcome::Sent, QString());
    else
        finishBatch(Outcome::NotSaved, settingsSaveError(m_settingsFolder));
}

void CommandQueue::failBatch(const QString &error)
{
    m_retry->stop();
    m_transmitter->stop();
    releasePort();
    // The port never came: every change that would have gone now fails.
    if (m_phase == Phase::Opening || m_phase == Phase::Ready)
        m_batch = nextBatch(waitingTickets());
    finishBatch(Outcome::PortFailed, error);
}

void CommandQueue::finishBatch(Outcome outcome, const QString &error)
{
    QList<int> ids;
    const QByteArray result = QByteArray::number(int(outcome)) + '\n' + error.toUtf8();
    for (const Ticket &ticket : std::as_const(m_batch)) {
        const auto own = m_pending.find(ticket.name);
        if (own != m_pending.end()) {
            ids << own.value().id;
            m_pending.erase(own);
            m_folder.remove(ticket.name);
        } else {
            m_folder.writeResult(ticket.name, result);
        }
    }
    m_batch.clear();
    m_phase = Phase::Idle;
    endTurn();
    const QPointer<CommandQueue> alive(this);
    report(ids, outcome, error);
    if (alive && !m_pending.isEmpty())
        step();
}

void CommandQueue::report(const QList<int> &ids, Outcome outcome, const QString &error)
{
    const QPointer<CommandQueue> alive(this);
    for (const int id : ids) {
        if (!alive)
            return;
        Q_EMIT finished(id, outcome, error);
    }
}

void CommandQueue::cancel()
{
    m_poll->stop();
    m_retry->stop();
    m_transmitter->stop();
    if (m_phase != Phase::Idle) {
        releasePort();
        m_batch.clear();
        m_phase = Phase::Idle;
        endTurn();
    }
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
        m_folder.remove(it.key());
    m_pending.clear();
}

void CommandQueue::releasePort()
{
    if (!m_port->isOpen())
        return;
    m_port->drain();
    m_port->setRts(false);
    m_port->closePort();
}

} // namespace relo
