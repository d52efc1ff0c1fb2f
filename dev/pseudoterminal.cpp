#include "dev/pseudoterminal.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace relo {

namespace {

// errno in Turkish, for the failures that setting up a pair can meet; the
// system's own text follows the locale, English in most environments.
QString systemError(const char *what)
{
    QString reason;
    switch (errno) {
    case EMFILE:
    case ENFILE:
    case ENOSPC:
        reason = QStringLiteral("bir sistem sınırı doldu (açık dosya, sözde uç birim ya da "
                                "inotify sayısı)");
        break;
    case ENOMEM:
        reason = QStringLiteral("bellek yetersiz");
        break;
    case EACCES:
    case EPERM:
        reason = QStringLiteral("izin yok");
        break;
    case ENOENT:
    case ENODEV:
        reason = QStringLiteral("aygıt bulunamadı");
        break;
    default:
        reason = QStringLiteral("sistem hatası %1").arg(errno);
        break;
    }
    return QStringLiteral("%1: %2").arg(QLatin1String(what), reason);
}

bool makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool setFlags(int fd, int fdFlags, int statusFlags)
{
    const int fdOld = ::fcntl(fd, F_GETFD);
    const int statusOld = ::fcntl(fd, F_GETFL);
    return fdOld >= 0 && statusOld >= 0 && ::fcntl(fd, F_SETFD, fdOld | fdFlags) == 0 &&
           ::fcntl(fd, F_SETFL, statusOld | statusFlags) == 0;
}

// Waits up to `timeoutMs` (negative: for ever) for `events` on `fd`.
bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

// One data byte with room for one file descriptor beside it: the message that
// keeps the slave side in the socket pair.
struct DescriptorMessage
{
    DescriptorMessage()
    {
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
    }
    DescriptorMessage(const DescriptorMessage &) = delete;
    DescriptorMessage &operator=(const DescriptorMessage &) = delete;

    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr header{};
};

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open()
{
    close();
    m_error.clear();
    int slave = -1;
    // Raw on both ends: no echo, no line editing, no CR/LF translation, no flow
    // control characters, so every byte value crosses unchanged. The master does
    // not block (reads wait with poll); nothing leaks into child processes.
    const char *step = "openpty";
    bool ok = ::openpty(&m_master, &slave, nullptr, nullptr, nullptr) == 0;
    if (ok) {
        step = "termios";
        ok = makeRaw(m_master) && makeRaw(slave) && setFlags(m_master, FD_CLOEXEC, O_NONBLOCK) &&
             setFlags(slave, FD_CLOEXEC, 0);
    }
    char name[256] = {};
    if (ok) {
        step = "ttyname";
        errno = ::ttyname_r(slave, name, sizeof name); // returns the error number
        ok = errno == 0;
    }
    if (ok) {
        step = "inotify";
        m_watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ok = m_watch >= 0 &&
             ::inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0;
    }
    if (ok) {
        // The slave side is sent into the socket pair and never received: the
        // message holds it, and freeLine() peeks at it when it needs the line.
        step = "socketpair";
        ok = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_keeper) == 0;
        DescriptorMessage message;
        cmsghdr *header = CMSG_FIRSTHDR(&message.header);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &slave, sizeof slave);
        ok = ok && ::sendmsg(m_keeper[0], &message.header, MSG_NOSIGNAL) == 1;
    }
    if (!ok) {
        m_error = systemError(step);
        if (slave >= 0)
            ::close(slave);
        close();
        return false;
    }
    ::close(slave);
    m_slavePath = QString::fromLocal8Bit(name);
    m_watcher = std::thread([this] { watchOpeners(); });
    return true;
}

void PseudoTerminal::close()
{
    if (m_watcher.joinable()) {
        const char stop = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_keeper[1], &stop, 1);
        m_watcher.join();
    }
    for (int *fd : {&m_master, &m_keeper[0], &m_keeper[1], &m_watch}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_slavePath.clear();
}

// Runs on its own thread for the life of the pair, so a holder's end is noticed
// even while the owner is busy elsewhere. Every successful open of the slave
// side reports one IN_OPEN and every last close of it one IN_CLOSE, crash or
// not; the owner's reference in the socket never closes before the watcher
// stops.
void PseudoTerminal::watchOpeners()
{
    int openers = 0;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{m_watch, POLLIN, 0}, {m_keeper[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return; // close() asks to stop
        const ssize_t n = ::read(m_watch, buffer, sizeof buffer);
        bool closed = false;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN)
                ++openers;
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                --openers;
                closed = true;
            }
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
        // Counted per batch: a batch may hold the old holder's close and a new
        // opener's open, and the new holder keeps its flag.
        if (closed && openers <= 0) {
            openers = 0;
            freeLine();
        }
    }
}

void PseudoTerminal::freeLine()
{
    DescriptorMessage message;
    if (::recvmsg(m_keeper[1], &message.header, MSG_PEEK | MSG_CMSG_CLOEXEC) != 1)
        return;
    const cmsghdr *header = CMSG_FIRSTHDR(&message.header);
    if (!header || header->cmsg_type != SCM_RIGHTS)
        return;
    int slave = -1;
    std::memcpy(&slave, CMSG_DATA(header), sizeof slave);
    ::ioctl(slave, TIOCNXCL);
    makeRaw(slave);
    ::close(slave); // a copy: the reference in the socket stays
}

QByteArray PseudoTerminal::read(int timeoutMs)
{
    QByteArray out;
    if (m_master < 0 || !waitFor(m_master, POLLIN, timeoutMs))
        return out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: nothing more waiting
    }
    return out;
}

QByteArray PseudoTerminal::readExactly(int count, int timeoutMs)
{
    QByteArray out;
    const QDeadlineTimer deadline(timeoutMs);
    while (out.size() < count && !deadline.hasExpired())
        out += read(int(deadline.remainingTime()));
    return out;
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return false;
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_master, data, size_t(left));
        if (n > 0) {
            data += n;
            left -= n;
        } else if (n < 0 && errno == EAGAIN) {
            // The slave side is not reading and the line buffer is full.
            if (!waitFor(m_master, POLLOUT, 5000))
                return false;
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

} // namespace relo
