#include "platform/deviceholders.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relo::platform {

// Each process's open descriptors are the links in /proc/<pid>/fd. Only those
// that name something under /dev are looked at closer, so a process stuck on a
// network file system cannot stall the look.
HeldDevices HeldDevices::now()
{
    HeldDevices held;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return held;
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
                held.m_devices.insert(quint64(st.st_rdev));
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return held;
}

bool HeldDevices::contains(const QString &path) const
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode) &&
           m_devices.contains(quint64(st.st_rdev));
}

} // namespace relo::platform
