#include "commandqueue.h"

#include "porterror.h"
#include "portscan.h"
#include "serialport.h"
#include "settingsfile.h"
#include "settingsfolder.h"
#include "transmitter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// The queue's files, in a folder beside ayar.ini (or, where this user cannot make
// one there, in a private folder named after the ayar.ini it serves):
//
//   sira                  locked briefly while a ticket is added or the tickets read,
//                         so that order numbers and what a reader sees agree
//   port                  locked by the process whose turn it is; its time stamp
//                         is touched at every step as a sign of progress
//   <owner>.canli         one per process, locked for the process's life
//   <number>_<owner>      a ticket: one waiting change, "channels states"
//   <ticket>.sonuc        the outcome of a ticket sent by another process:
//                         the outcome's number, a line break, the error line
//   ~<owner>              a file being written, renamed into place when whole
//   kaydedilmedi          the mask last sent when ayar.ini could not be written,
//                         and the size and time of the ayar.ini it stands in for
//
// Locks are flock() locks: the system drops them when their process ends, however
// it ends, so a dead process's tickets are recognised and removed.

namespace relo {

namespace {

const QString FolderName = QStringLiteral(".ayar.ini.kuyruk");
const QString TurnFile = QStringLiteral("port");
const QString OrderFile = QStringLiteral("sira");
const QString UnsavedFile = QStringLiteral("kaydedilmedi");
const char *const AliveSuffix = ".canli";
const char *const ResultSuffix = ".sonuc";
// A ticket's name: the time its change was made (ns since boot), a number that
// orders tickets of the same moment, the owner.
constexpr int TimeDigits = 20;
constexpr int NumberDigits = 8;
constexpr int NumberAt = TimeDigits + 1;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

int openFile(const QString &path, int flags)
{
    int fd;
    do {
        fd = ::open(encoded(path).constData(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void closeFile(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool lock(int fd, int operation)
{
    int r;
    do {
        r = ::flock(fd, operation);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

// Writes `bytes` to a temporary file and renames it to `path`, so that readers
// see the whole file or none of it.
bool writeWhole(const QString &temporary, const QString &path, const QByteArray &bytes)
{
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        file.remove();
        return false;
    }
    file.close();
    if (::rename(encoded(temporary).constData(), encoded(path).constData()) != 0) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

// When the process of a /proc/<pid>/stat file started, in ns since boot (-1 when
// it cannot be told or the process has ended but was not yet reaped), and its
// program name: field 22 is the start in clock ticks, counted after the name,
// which may hold blanks and parentheses; field 3 is the state.
qint64 startTimeOf(const QString &statPath, QByteArray *name = nullptr)
{
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.read(1024);
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return -1;
    if (name)
        *name = text.mid(open + 1, close - open - 1);
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.value(0) == "Z" || fields.value(0) == "X")
        return -1;
    bool ok = false;
    const qint64 ticks = fields.value(19).toLongLong(&ok);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    return ok && perSecond > 0 ? ticks * (1000000000 / perSecond) : -1;
}

qint64 modifiedNs(int fd)
{
    struct stat info
    {};
    if (::fstat(fd, &info) != 0)
        return -1;
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

// Makes `path` with mode 0700 unless it exists, and says whether it is a folder
// (not a link) of this user's that no one else may enter.
bool makePrivateFolder(const QString &path)
{
    if (::mkdir(encoded(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat info
    {};
    return ::lstat(encoded(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

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
        failBatch(QStringLiteral("Port Hatası: %1 gönderim sırasında koptu")
                      .arg(portEntry(m_portNumber)));
    });
}

CommandQueue::~CommandQueue()
{
    cancel();
    leaveFolder();
}

QString CommandQueue::queueFolder(const QString &settingsFolder)
{
    return QDir(settingsFolder).filePath(FolderName);
}

bool CommandQueue::joinFolder()
{
    if (!m_folder.isEmpty())
        return true;
    // Beside ayar.ini where this user may make it; otherwise (an install the user
    // cannot write, a read-only shipped ayar.ini) in a folder of this user's own.
    if (joinFolderAt(queueFolder(m_settingsFolder)))
        return true;
    const QString own = privateQueueFolder();
    return !own.isEmpty() && joinFolderAt(own);
}

// The queue of this ayar.ini in a folder only this user may enter, for when none
// can be made beside it: under $XDG_RUNTIME_DIR, else under /tmp. Either is
// checked before use (a folder, this user's, closed to everyone else), so that
// nobody else can plant or read tickets there. Empty when no such folder is had.
QString CommandQueue::privateQueueFolder() const
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QString base;
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) &&
        makePrivateFolder(QDir(runtime).filePath(QStringLiteral("relo"))))
        base = QDir(runtime).filePath(QStringLiteral("relo"));
    else if (makePrivateFolder(QStringLiteral("/tmp/relo-%1").arg(::getuid())))
        base = QStringLiteral("/tmp/relo-%1").arg(::getuid());
    else
        return {};
    // One queue for each ayar.ini, whatever the path it was reached by.
    const QString file = QFileInfo(settingsPath(m_settingsFolder)).absoluteFilePath();
    const QString canonical = QFileInfo(file).canonicalFilePath();
    const QByteArray key = QCryptographicHash::hash(
        QFile::encodeName(canonical.isEmpty() ? file : canonical), QCryptographicHash::Sha1);
    const QString folder =
        QDir(base).filePath(QStringLiteral("kuyruk-") + QString::fromLatin1(key.toHex().left(16)));
    return makePrivateFolder(folder) ? folder : QString();
}

bool CommandQueue::joinFolderAt(const QString &folder)
{
    // Only the queue's own folder is made: a settings folder that does not exist
    // is not created on the way.
    if (::mkdir(encoded(folder).constData(), 0777) != 0 && errno != EEXIST)
        return false;
    m_folder = folder;
    m_owner = QStringLiteral("%1-%2")
                  .arg(::getpid())
                  .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    // The owner file is locked before it gets its name, so no reader ever finds
    // it unlocked while this process lives; and it is made under the order lock,
    // so no reader takes the half-made file for one left by a dead process.
    const QString temporary = ticketPath(QLatin1Char('~') + m_owner);
    m_turnFd = openFile(QDir(m_folder).filePath(TurnFile), O_RDWR | O_CREAT);
    m_orderFd = openFile(QDir(m_folder).filePath(OrderFile), O_RDWR | O_CREAT);
    const bool ordered = m_orderFd >= 0 && lock(m_orderFd, LOCK_EX);
    if (ordered)
        m_ownerFd = openFile(temporary, O_RDWR | O_CREAT | O_EXCL);
    const bool joined = ordered && m_turnFd >= 0 && m_ownerFd >= 0 && lock(m_ownerFd, LOCK_EX) &&
                        ::rename(encoded(temporary).constData(),
                                 encoded(ticketPath(m_owner, AliveSuffix)).constData()) == 0;
    if (!joined && m_ownerFd >= 0)
        QFile::remove(temporary);
    if (ordered)
        lock(m_orderFd, LOCK_UN);
    if (!joined)
        leaveFolder();
    return joined;
}

void CommandQueue::leaveFolder()
{
    if (m_ownerFd >= 0)
        QFile::remove(ticketPath(m_owner, AliveSuffix));
    closeFile(m_ownerFd);
    closeFile(m_turnFd);
    closeFile(m_orderFd);
    m_folder.clear();
}

QString CommandQueue::ticketPath(const QString &name, const char *suffix) const
{
    return QDir(m_folder).filePath(name + QLatin1String(suffix));
}

qint64 CommandQueue::now()
{
    timespec time{};
    ::clock_gettime(CLOCK_BOOTTIME, &time);
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

qint64 CommandQueue::processStartTime()
{
    const qint64 started = startTimeOf(QStringLiteral("/proc/self/stat"));
    return started >= 0 ? started : now();
}

// RELOKomut processes of this user that started before `before` (and not long
// ago) and have not joined the queue yet, so are still starting up.
bool CommandQueue::othersStarting(qint64 before, const QSet<qint64> &joined) const
{
    const qint64 recent = now() - qint64(StartUpWaitMs) * 1000000;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        struct stat info
        {};
        if (!isPid || pid == ::getpid() || joined.contains(pid) ||
            ::stat(encoded(QStringLiteral("/proc/") + entry).constData(), &info) != 0 ||
            info.st_uid != ::getuid())
            continue;
        QByteArray name;
        const qint64 started = startTimeOf(QStringLiteral("/proc/%1/stat").arg(entry), &name);
        if (name == "RELOKomut" && started > recent && started < before)
            return true;
    }
    return false;
}

int CommandQueue::submit(const MaskChange &change, qint64 madeAt)
{
    const int id = m_nextId++;
    if (madeAt < 0)
        madeAt = now();
    QString name;
    if (joinFolder() && lock(m_orderFd, LOCK_EX)) {
        // The next number follows the highest one waiting; numbers only need to
        // order the tickets that exist together.
        qulonglong last = 0;
        const QStringList names = QDir(m_folder).entryList(QDir::Files);
        for (const QString &existing : names) {
            if (existing.size() > NumberAt + NumberDigits && existing.at(TimeDigits) == u'-')
                last = qMax(last, existing.mid(NumberAt, NumberDigits).toULongLong());
        }
        name = QStringLiteral("%1-%2_%3")
                   .arg(madeAt, TimeDigits, 10, QLatin1Char('0'))
                   .arg(last + 1, NumberDigits, 10, QLatin1Char('0'))
                   .arg(m_owner);
        const QByteArray text =
            QByteArray::number(change.channels) + ' ' + QByteArray::number(change.states) + '\n';
        if (!writeWhole(ticketPath(QLatin1Char('~') + m_owner), ticketPath(name), text))
            name.clear();
        lock(m_orderFd, LOCK_UN);
    }
    if (name.isEmpty()) {
        // No queue beside ayar.ini: this change goes out on its own.
        name = QStringLiteral("%1-%2_")
                   .arg(madeAt, TimeDigits, 10, QLatin1Char('0'))
                   .arg(id, NumberDigits, 10, QLatin1Char('0'));
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

bool CommandQueue::ownerAlive(const QString &owner)
{
    if (owner == m_owner)
        return true;
    const QString path = ticketPath(owner, AliveSuffix);
    int fd = openFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    const bool alive = !lock(fd, LOCK_SH | LOCK_NB) && errno == EWOULDBLOCK;
    if (!alive)
        QFile::remove(path);
    closeFile(fd);
    return alive;
}

// The tickets waiting now, in order; those of dead processes are removed on the way.
QList<CommandQueue::Ticket> CommandQueue::waitingTickets(QSet<qint64> *joined)
{
    QList<Ticket> tickets;
    if (m_folder.isEmpty()) {
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it)
            tickets << Ticket{it.key(), it.value().change};
        return tickets;
    }
    static const QRegularExpression ticketName(
        QStringLiteral("^\\d{%1}-\\d{%2}_(.+)$").arg(TimeDigits).arg(NumberDigits));
    if (!lock(m_orderFd, LOCK_EX))
        return tickets;
    QMap<QString, bool> alive;
    const auto isAlive = [&](const QString &owner) {
        auto found = alive.find(owner);
        if (found == alive.end())
            found = alive.insert(owner, ownerAlive(owner));
        return found.value();
    };
    QDir folder(m_folder);
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (name.endsWith(QLatin1String(AliveSuffix))) {
            const QString owner = name.chopped(int(qstrlen(AliveSuffix)));
            if (isAlive(owner) && joined) // a dead one is removed
                joined->insert(owner.section(u'-', 0, 0).toLongLong());
            continue;
        }
        if (name.startsWith(u'~')) {
            // Half-written by a process that died.
            if (!isAlive(name.mid(1).section(u'.', 0, 0)))
                folder.remove(name);
            continue;
        }
        const QRegularExpressionMatch match = ticketName.match(name.section(u'.', 0, 0));
        if (!match.hasMatch())
            continue;
        if (!isAlive(match.captured(1))) {
            folder.remove(name);
            continue;
        }
        if (name.contains(u'.') || QFile::exists(ticketPath(name, ResultSuffix)))
            continue; // a result, or a ticket already sent
        QFile file(ticketPath(name));
        const QList<QByteArray> fields = file.open(QIODevice::ReadOnly)
                                             ? file.read(64).simplified().split(' ')
                                             : QList<QByteArray>();
        bool channelsOk = false;
        bool statesOk = false;
        const uint channels = fields.value(0).toUInt(&channelsOk);
        const uint states = fields.value(1).toUInt(&statesOk);
        if (fields.size() == 2 && channelsOk && statesOk && channels <= 255 && states <= 255)
            tickets << Ticket{name, {Mask(channels), Mask(states)}};
    }
    lock(m_orderFd, LOCK_UN);
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
    m_portNumber = portInUse(m_settingsFolder); // port 1 when nothing usable is saved
    m_phase = Phase::Opening;
    m_openClock.start();
    tryOpenPort();
}

bool CommandQueue::takeTurn()
{
    return m_folder.isEmpty() || lock(m_turnFd, LOCK_EX | LOCK_NB);
}

void CommandQueue::endTurn()
{
    if (!m_folder.isEmpty())
        lock(m_turnFd, LOCK_UN);
}

void CommandQueue::heartbeat()
{
    // Often enough for a waiting process to tell progress from a stall; not on
    // every frame, which would stir the file system while frames are timed.
    constexpr qint64 HeartbeatMs = 1000;
    if (m_turnFd < 0 || (m_lastBeat.isValid() && !m_lastBeat.hasExpired(HeartbeatMs)))
        return;
    m_lastBeat.start();
    ::futimens(m_turnFd, nullptr);
}

// Waiting: the process whose turn it is shows progress by touching the turn
// file. One that shows none for BusyRetryMs is stuck, and the changes waiting
// here give up as they would on a port held by any other program.
void CommandQueue::checkProgress()
{
    const qint64 seen = modifiedNs(m_turnFd);
    if (seen != m_lastHeartbeat || !m_sinceHeartbeat.isValid()) {
        m_lastHeartbeat = seen;
        m_sinceHeartbeat.start();
        return;
    }
    if (!m_sinceHeartbeat.hasExpired(BusyRetryMs))
        return;
    const QString error =
        portErrorLine(portInUse(m_settingsFolder), SerialPort::OpenError::Busy, {});
    QList<int> ids;
    for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
        QFile::remove(ticketPath(it.key()));
        ids << it.value().id;
    }
    m_pending.clear();
    m_poll->stop();
    report(ids, Outcome::PortFailed, error);
}

// Outcomes that another process wrote for changes submitted here.
void CommandQueue::collectResults()
{
    if (m_folder.isEmpty())
        return;
    QList<std::pair<int, std::pair<Outcome, QString>>> done;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        QFile result(ticketPath(it.key(), ResultSuffix));
        if (!result.open(QIODevice::ReadOnly)) {
            ++it;
            continue;
        }
        const QByteArray text = result.readAll();
        const int lineEnd = text.indexOf('\n');
        const int outcome = text.left(lineEnd).toInt();
        done.append({it.value().id,
                     {outcome == int(Outcome::Sent)       ? Outcome::Sent
                      : outcome == int(Outcome::NotSaved) ? Outcome::NotSaved
                                                          : Outcome::PortFailed,
                      lineEnd < 0 ? QString() : QString::fromUtf8(text.mid(lineEnd + 1))}});
        // The ticket goes before its result: a ticket seen without a result would
        // be taken as still waiting and sent again.
        QFile::remove(ticketPath(it.key()));
        result.remove();
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
        newest = qMax(newest, ticket.name.left(TimeDigits).toLongLong());
    if (!m_folder.isEmpty() && othersStarting(newest, joined)) {
        heartbeat();
        m_retry->start(PollIntervalMs);
        return;
    }
    formBatch(tickets);
    if (m_batch.isEmpty()) {
        // Everything here was finished or withdrawn meanwhile.
        releasePort();
        m_phase = Phase::Idle;
        endTurn();
        return;
    }
    sendBatch();
}

// Every change waiting now, in order, but none that shares a channel with an
// earlier waiting change.
void CommandQueue::formBatch(const QList<Ticket> &tickets)
{
    m_batch.clear();
    Mask taken = 0;
    for (const Ticket &ticket : tickets) {
        if (!(ticket.change.channels & taken))
            m_batch << ticket;
        taken |= ticket.change.channels;
    }
    // Tickets that could not be read back (the queue folder failing under this
    // process) do not hold up this process's own changes.
    if (m_batch.isEmpty() && !m_pending.isEmpty())
        m_batch << Ticket{m_pending.firstKey(), m_pending.first().change};
}

void CommandQueue::sendBatch()
{
    // Always from the mask read when the port was taken, so sending again gives
    // the same mask.
    m_newMask = m_loadedMask;
    for (const Ticket &ticket : std::as_const(m_batch))
        m_newMask = ticket.change.appliedTo(m_newMask);
    m_saved = writeSetting(m_settingsFolder, PortDataKey, QString::number(m_newMask));
    if (!m_folder.isEmpty()) {
        const QString unsaved = QDir(m_folder).filePath(UnsavedFile);
        if (m_saved)
            QFile::remove(unsaved);
        else
            writeWhole(ticketPath(QLatin1Char('~') + m_owner), unsaved,
                       QByteArray::number(m_newMask) + ' ' + settingsStamp());
    }
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
    const Mask saved = maskSetting(readSetting(m_settingsFolder, PortDataKey)).value_or(0);
    if (m_folder.isEmpty())
        return saved;
    QFile file(QDir(m_folder).filePath(UnsavedFile));
    if (!file.open(QIODevice::ReadOnly))
        return saved;
    const QList<QByteArray> fields = file.read(64).trimmed().split(' ');
    const std::optional<Mask> unsaved = maskSetting(QString::fromLatin1(fields.value(0)));
    return fields.size() == 2 && fields.at(1) == settingsStamp() && unsaved ? *unsaved : saved;
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
        formBatch(waitingTickets());
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
            if (!m_folder.isEmpty())
                QFile::remove(ticketPath(ticket.name));
        } else {
            writeWhole(ticketPath(QLatin1Char('~') + m_owner),
                       ticketPath(ticket.name, ResultSuffix), result);
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
    if (!m_folder.isEmpty()) {
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
            QFile::remove(ticketPath(it.key()));
            QFile::remove(ticketPath(it.key(), ResultSuffix));
        }
    }
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
