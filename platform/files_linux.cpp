#include "platform/files.h"

#include "platform/permissions.h"

#include <QFile>
#include <QFileInfo>

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

// Files made in a shared folder: read and write for the owner and the group,
// read for others, whatever the umask.
constexpr mode_t SharedFileMode = 0664;

QByteArray folderOf(const QString &path)
{
    return encoded(QFileInfo(path).absolutePath());
}

// The folder's stat when it is shared (its group or others may write it).
bool sharedFolderInfo(const QByteArray &folder, struct stat *info)
{
    return ::stat(folder.constData(), info) == 0 && S_ISDIR(info->st_mode) &&
           (info->st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// A file just opened in a shared folder: when it is this process's own, given
// the folder's group (a folder without its setgid bit does not) and opened to it.
void openToGroup(int fd, const struct stat &folder, mode_t mode)
{
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid())
        return;
    if (info.st_gid != folder.st_gid && ::fchown(fd, uid_t(-1), folder.st_gid) != 0) {
        // not a member after all: the group cannot use the file anyway
    }
    if ((info.st_mode & 07777) != mode)
        ::fchmod(fd, mode);
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
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
    m_fd = openFile(path, O_RDWR | O_CREAT | O_NOFOLLOW | (create == Create::Only ? O_EXCL : 0));
    struct stat folder
    {};
    if (m_fd >= 0 && sharedFolderInfo(folderOf(path), &folder))
        openToGroup(m_fd, folder, SharedFileMode);
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

LockState lockState(const QString &path)
{
    const int fd = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return errno == EACCES || errno == EPERM ? LockState::Unknown : LockState::Free;
    const bool held = !flockRetried(fd, LOCK_SH | LOCK_NB) && errno == EWOULDBLOCK;
    ::close(fd);
    return held ? LockState::Held : LockState::Free;
}

bool replaceFile(const QString &from, const QString &to)
{
    return ::rename(encoded(from).constData(), encoded(to).constData()) == 0;
}

bool makeFolder(const QString &path, bool privateToUser)
{
    const QByteArray name = encoded(path);
    struct stat parent
    {};
    const bool shared = !privateToUser && sharedFolderInfo(folderOf(path), &parent);
    if (::mkdir(name.constData(), privateToUser ? 0700 : 0777) != 0) {
        if (errno != EEXIST)
            return false;
    } else if (shared) {
        // Made here for every account of the group, whatever this one's umask.
        const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            openToGroup(fd, parent, 02775);
            ::close(fd);
        }
    }
    // A private folder, or one in a shared folder, must not be a link someone
    // else planted; an ordinary one may be.
    struct stat info
    {};
    const int found = privateToUser || shared ? ::lstat(name.constData(), &info)
                                              : ::stat(name.constData(), &info);
    if (found != 0 || !S_ISDIR(info.st_mode))
        return false;
    return !privateToUser || (info.st_uid == ::getuid() && (info.st_mode & 077) == 0);
}

QString userId()
{
    return QString::number(::getuid());
}

bool isSharedFolder(const QString &folder)
{
    struct stat info
    {};
    return sharedFolderInfo(encoded(folder), &info);
}

FileRead readFile(const QString &path, qint64 maxSize, QByteArray *bytes)
{
    struct stat folder
    {};
    const bool shared = sharedFolderInfo(folderOf(path), &folder);
    // Without blocking: a FIFO planted in place of the file must not hold us.
    const int fd = openFile(path, O_RDONLY | O_NONBLOCK | (shared ? O_NOFOLLOW : 0));
    if (fd < 0) {
        if (errno == ENOENT)
            return FileRead::Missing;
        return shared && errno == ELOOP ? FileRead::Link : FileRead::Failed;
    }
    struct stat info
    {};
    FileRead result = FileRead::Read;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        result = FileRead::Failed;
    else if (shared &&
             ((info.st_mode & S_IWOTH) != 0 || !accountInGroup(info.st_uid, folder.st_gid)))
        result = FileRead::Outsider;
    if (result == FileRead::Read) {
        // As much as the file holds, and one byte more to tell a longer file.
        bytes->resize(qsizetype(qBound(qint64(0), qint64(info.st_size), maxSize) + 1));
        qsizetype done = 0;
        while (done < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                result = FileRead::Failed;
            if (n <= 0)
                break;
            done += n;
        }
        bytes->truncate(done);
    }
    ::close(fd);
    return result;
}

bool writeNewFile(const QString &path, const QByteArray &bytes, bool durable)
{
    const QByteArray name = encoded(path);
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return false;
    const int fd = openFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat folder
    {};
    if (sharedFolderInfo(folderOf(path), &folder))
        openToGroup(fd, folder, SharedFileMode);
    const bool written = writeAll(fd, bytes) && (!durable || ::fdatasync(fd) == 0);
    if (::close(fd) != 0 || !written) {
        ::unlink(name.constData());
        return false;
    }
    return true;
}

bool placeFile(const QString &from, const QString &to)
{
    // A hard link is made only where nothing is: the file that got there first
    // stays.
    const QByteArray source = encoded(from);
    const bool placed = ::link(source.constData(), encoded(to).constData()) == 0;
    ::unlink(source.constData());
    return placed;
}

} // namespace relo::platform
