#include "pseudoterminal.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace relo {

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(strerror(errno)));
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

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open()
{
    close();
    m_error.clear();
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        m_error = systemError("openpty");
        return false;
    }
    // Raw on both ends: no echo, no line editing, no CR/LF translation, no flow
    // control characters, so every byte value crosses unchanged. The master does
    // not block (reads wait with poll); neither end leaks into child processes.
    if (!makeRaw(master) || !makeRaw(slave) || !setFlags(master, FD_CLOEXEC, O_NONBLOCK) ||
        !setFlags(slave, FD_CLOEXEC, 0)) {
        m_error = systemError("termios");
        ::close(master);
        ::close(slave);
        return false;
    }
    const char *name = ::ttyname(slave);
    if (!name) {
        m_error = systemError("ttyname");
        ::close(master);
        ::close(slave);
        return false;
    }
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
    m_slavePath.clear();
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
