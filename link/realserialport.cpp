#include "realserialport.h"

#include "portmap.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace relo {

namespace {

// Bytes kept waiting for the owner to read; the rest of a flood is dropped oldest
// first, as a full input buffer would.
constexpr qint64 InputBufferSize = 1024;

bool deviceExists(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), F_OK) == 0;
#else
    Q_UNUSED(path)
    return true; // COMn names are not files; let the open decide
#endif
}

bool deviceAccessible(const QString &path)
{
#ifdef Q_OS_UNIX
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
#else
    Q_UNUSED(path)
    return true;
#endif
}

// Errors after which the open port can no longer be used: the adapter is gone or
// the device refuses input or output. Others (RTS unsupported on a
// pseudo-terminal, a wait that timed out) leave the port working.
bool isFatal(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
        return true;
    default:
        return false;
    }
}

} // namespace

// Only descriptors that name something under /dev are looked at closer, so a
// process stuck on a network file system cannot stall the scan.
QSet<quint64> devicesOpenElsewhere()
{
    QSet<quint64> devices;
#ifdef Q_OS_LINUX
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return devices;
    const QByteArray self = QByteArray::number(::getpid());
    while (const dirent *process = ::readdir(proc)) {
        const QByteArrayView pid(process->d_name);
        if (pid.isEmpty() || pid == self ||
            !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int fdFolder = ::open(("/proc/" + pid.toByteArray() + "/fd").constData(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdFolder < 0)
            continue; // gone, or another user's process
        DIR *fds = ::fdopendir(fdFolder);
        if (!fds) {
            ::close(fdFolder);
            continue;
        }
        while (const dirent *fd = ::readdir(fds)) {
            char target[8];
            struct stat st = {};
            if (::readlinkat(fdFolder, fd->d_name, target, sizeof target) >= 5 &&
                QByteArrayView(target, 5) == "/dev/" &&
                ::fstatat(fdFolder, fd->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode))
                devices.insert(quint64(st.st_rdev));
        }
        ::closedir(fds);
    }
    ::closedir(proc);
#endif
    return devices;
}

QString lockFilePath(const QString &path)
{
#ifdef Q_OS_UNIX
    // QSerialPort's own choice: the first of these folders that may be read and
    // either holds the file already or may be written, the port's name with
    // "/dev/" taken off and every other slash turned into an underscore.
    static const char *const Folders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name = QStringLiteral("LCK..") + name.replace(u'/', u'_');
    for (const char *folder : Folders) {
        const QFileInfo info{QString::fromLatin1(folder)};
        if (info.isReadable() &&
            (QFile::exists(info.filePath() + u'/' + name) || info.isWritable()))
            return info.canonicalFilePath() + u'/' + name;
    }
#else
    Q_UNUSED(path)
#endif
    return {};
}

bool isStaleLock(const QString &lockFile)
{
#ifdef Q_OS_UNIX
    qint64 pid = 0;
    QString host;
    QString program;
    if (lockFile.isEmpty() || !QLockFile(lockFile).getLockInfo(&pid, &host, &program) || pid <= 0)
        return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return false; // another machine's process: no telling
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return true;
    // The number may since have gone to another program, as Qt also checks.
    const QString running = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    return !running.isEmpty() && QFileInfo(running).fileName() != QFileInfo(program).fileName();
#else
    Q_UNUSED(lockFile)
    return false;
#endif
}

RealSerialPort::RealSerialPort(QObject *parent)
    : SerialPort(parent), m_serial(new QSerialPort(this))
{
    setObjectName(QStringLiteral("MSComm1"));
    connect(m_serial, &QSerialPort::readyRead, this, &RealSerialPort::onReadyRead);
    connect(m_serial, &QSerialPort::errorOccurred, this, &RealSerialPort::onError);
}

RealSerialPort::~RealSerialPort()
{
    closePort();
}

SerialPort::OpenError RealSerialPort::openPort(int portNumber)
{
    closePort();
    m_portNumber = portNumber;
    m_device = resolve(portNumber);
    const QString path = m_device.path;
    // A missing device is answered without touching Qt's lock directory; this
    // keeps a scan of ten absent ports fast.
    if (path.isEmpty() || !deviceExists(path))
        return OpenError::Missing;
    if (!deviceAccessible(path))
        return OpenError::NoPermission;
    // Checked before opening: an open would reset the line settings under the
    // program that holds the device.
    if (openElsewhere(path))
        return OpenError::Busy;

    m_serial->setPortName(path);
    m_serial->setBaudRate(QSerialPort::Baud2400);
    m_serial->setDataBits(QSerialPort::Data8);
    m_serial->setParity(QSerialPort::NoParity);
    m_serial->setStopBits(QSerialPort::OneStop);
    m_serial->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_serial->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_serial->error();
        m_serial->clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return OpenError::Missing;
        case QSerialPort::PermissionError:
            // Qt reports a device locked by another process (its lock file, or
            // the exclusive-use flag of the tty) and a device this user may not
            // open with the same code. Tell them apart by the file's mode.
            if (!deviceExists(path))
                return OpenError::Missing;
            if (!deviceAccessible(path))
                return OpenError::NoPermission;
            // Qt removes a lock whose program has ended; one still there is
            // one this user may not remove.
            return isStaleLock(lockFilePath(path)) ? OpenError::StaleLock : OpenError::Busy;
        default:
            return OpenError::Other;
        }
    }
    ++m_generation;
    m_broken = false;
    // The driver raises RTS on opening; it stays low until the owner raises it.
    // DTR is left as the driver sets it.
    m_serial->setRequestToSend(false);
    m_serial->clearError();
    return OpenError::None;
}

PortDevice RealSerialPort::resolve(int portNumber)
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const bool overridden = env.contains(portEnvironmentVariable(portNumber));
    if (m_resolver && portNumber >= 1 && !overridden)
        return m_resolver(portNumber);
    QStringList systemPorts;
#ifndef Q_OS_WIN
    if (portNumber >= 1 && !overridden) {
        constexpr qint64 SystemPortsMaxAgeMs = 1000;
        if (!m_systemPortsAge.isValid() || m_systemPortsAge.hasExpired(SystemPortsMaxAgeMs)) {
            m_systemPorts = systemSerialPorts();
            m_systemPortsAge.start();
        }
        systemPorts = m_systemPorts;
    }
#endif
    const QString path = devicePathForPort(portNumber, env, systemPorts);
    return {path, path};
}

void RealSerialPort::refreshDevices()
{
    m_systemPortsAge.invalidate();
    m_openElsewhereAge.invalidate();
    if (m_refresh)
        m_refresh();
}

bool RealSerialPort::openElsewhere(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    // One look through /proc serves a whole scan; a caller that tries again a
    // moment later (a busy retry) looks afresh.
    constexpr qint64 MaxAgeMs = 50;
    if (!m_openElsewhereAge.isValid() || m_openElsewhereAge.hasExpired(MaxAgeMs)) {
        m_openElsewhere = devicesOpenElsewhere();
        m_openElsewhereAge.start();
    }
    return m_openElsewhere.contains(quint64(st.st_rdev));
#else
    Q_UNUSED(path)
    return false; // the open itself tells
#endif
}

void RealSerialPort::closePort()
{
    if (!m_serial->isOpen())
        return;
    if (!m_broken)
        drain();
    m_broken = false;
    m_serial->close();
    m_serial->clearError();
}

bool RealSerialPort::isOpen() const
{
    return m_serial->isOpen() && !m_broken;
}

void RealSerialPort::setRts(bool on)
{
    if (!isOpen())
        return;
    // A pseudo-terminal has no RTS line: the request fails harmlessly.
    m_serial->setRequestToSend(on);
}

bool RealSerialPort::send(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    if (m_serial->write(bytes) != bytes.size())
        return false;
    // Hand the bytes to the driver now, in one write, when it has room; otherwise
    // the event loop writes them as soon as it has. (Pushing into a full driver
    // buffer makes QSerialPort report a resource error as if the device had gone.)
    if (driverHasRoom())
        m_serial->flush();
    return !m_broken;
}

void RealSerialPort::drain()
{
    if (!isOpen())
        return;
    // QSerialPort keeps unwritten bytes in its own buffer and close() drops them;
    // hand them to the driver as it takes them, then wait until the driver has
    // sent them (one frame spends 75 ms on the wire at 2400 baud).
    while (m_serial->bytesToWrite() > 0 && !m_broken) {
        const qint64 msOnWire = m_serial->bytesToWrite() * 10 * 1000 / 2400;
        if (!m_serial->waitForBytesWritten(int(msOnWire) + 1000))
            break;
    }
#ifdef Q_OS_UNIX
    if (!m_broken) {
        while (::tcdrain(int(m_serial->handle())) != 0 && errno == EINTR) {
        }
    }
#endif
}

bool RealSerialPort::driverHasRoom() const
{
#ifdef Q_OS_UNIX
    pollfd p{int(m_serial->handle()), POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
#else
    return true;
#endif
}

void RealSerialPort::setReceiveThreshold(int threshold, int inputLen)
{
    m_threshold = qMax(0, threshold);
    m_inputLen = qMax(0, inputLen);
}

QByteArray RealSerialPort::drainInput()
{
    if (!isOpen())
        return {};
    return m_inputLen > 0 ? m_serial->read(m_inputLen) : m_serial->readAll();
}

void RealSerialPort::onReadyRead()
{
    if (m_threshold <= 0) {
        // Nobody reads this port: throw the bytes away rather than pile them up.
        m_serial->readAll();
        return;
    }
    // One notification per threshold's worth waiting, for as long as the owner
    // keeps reading, so blocks that arrived together are not left behind.
    while (isOpen() && m_serial->bytesAvailable() >= m_threshold) {
        const qint64 before = m_serial->bytesAvailable();
        Q_EMIT received();
        if (!isOpen() || m_serial->bytesAvailable() >= before)
            break;
    }
    if (isOpen() && m_serial->bytesAvailable() > InputBufferSize)
        m_serial->skip(m_serial->bytesAvailable() - InputBufferSize);
}

void RealSerialPort::onError(QSerialPort::SerialPortError error)
{
    if (!m_serial->isOpen() || m_broken || !isFatal(error))
        return;
    // This runs inside QSerialPort (its notifier or a write), so the port is only
    // marked unusable here; it is closed and failed() emitted from the event
    // loop. The owner therefore never sees failed() in the middle of its own
    // send(), and not at all if it closes or reopens the port first.
    m_broken = true;
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation != m_generation || !m_broken)
                return;
            m_broken = false;
            m_serial->close();
            m_serial->clearError();
            Q_EMIT failed();
        },
        Qt::QueuedConnection);
}

} // namespace relo
