#include "files.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relo::platform {

namespace {

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

bool flockRetried(int fd, int operation)
{
    int r;
    do {
        r = ::flock(fd, operation);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

} // namespace

bool LockFile::open(const QString &path, Create create)
{
    close();
    m_fd = openFile(path, O_RDWR | O_CREAT | (create == Create::Only ? O_EXCL : 0));
    return m_fd >= 0;
}

void LockFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool LockFile::lock(bool wait)
{
    return m_fd >= 0 && flockRetried(m_fd, LOCK_EX | (wait ? 0 : LOCK_NB));
}

void LockFile::unlock()
{
    if (m_fd >= 0)
        flockRetried(m_fd, LOCK_UN);
}

void LockFile::touch()
{
    if (m_fd >= 0)
        ::futimens(m_fd, nullptr);
}

qint64 LockFile::modifiedNs() const
{
    struct stat info
    {};
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return -1;
    return qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

bool isLockHeld(const QString &path)
{
    const int fd = openFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    const bool held = !flockRetried(fd, LOCK_SH | LOCK_NB) && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool replaceFile(const QString &from, const QString &to)
{
    return ::rename(encoded(from).constData(), encoded(to).constData()) == 0;
}

bool makeFolder(const QString &path, bool privateToUser)
{
    const QByteArray name = encoded(path);
    if (::mkdir(name.constData(), privateToUser ? 0700 : 0777) != 0 && errno != EEXIST)
        return false;
    // A private folder must not be a link someone else planted; an ordinary one
    // may be.
    struct stat info
    {};
    const int found =
        privateToUser ? ::lstat(name.constData(), &info) : ::stat(name.constData(), &info);
    if (found != 0 || !S_ISDIR(info.st_mode))
        return false;
    return !privateToUser || (info.st_uid == ::getuid() && (info.st_mode & 077) == 0);
}

QString userId()
{
    return QString::number(::getuid());
}

} // namespace relo::platform
