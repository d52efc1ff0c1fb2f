#include "permissions.h"

#include <QFile>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace relo::platform {

bool mayRead(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK) == 0;
}

bool mayReadWrite(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0;
}

QString userName()
{
    const passwd *user = ::getpwuid(::getuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString();
}

std::optional<FileGroup> fileGroup(const QString &path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    const group *owners = ::getgrgid(st.st_gid);
    FileGroup found;
    found.name = owners ? QString::fromLocal8Bit(owners->gr_name) : QString::number(st.st_gid);
    found.mayReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    return found;
}

} // namespace relo::platform
