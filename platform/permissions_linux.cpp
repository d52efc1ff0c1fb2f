#include "platform/permissions.h"

#include <QFile>

#include <algorithm>
#include <vector>

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

bool isRoot()
{
    return ::geteuid() == 0;
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

bool accountInGroup(uint uid, uint gid)
{
    if (uid == 0)
        return true;
    const passwd *account = ::getpwuid(uid_t(uid));
    if (!account)
        return false;
    if (account->pw_gid == gid_t(gid))
        return true;
    const QByteArray name(account->pw_name);
    const group *members = ::getgrgid(gid_t(gid));
    for (char **member = members ? members->gr_mem : nullptr; member && *member; ++member) {
        if (name == *member)
            return true;
    }
    return false;
}

SharedFolderAccess sharedFolderAccess(const QString &path)
{
    SharedFolderAccess access;
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return access;
    access.exists = true;
    const group *owners = ::getgrgid(st.st_gid);
    access.group = owners ? QString::fromLocal8Bit(owners->gr_name) : QString::number(st.st_gid);
    // The groups this process has, as the system checks them when it opens a
    // file: one joined since logging in counts only after logging in again.
    access.member = ::geteuid() == 0 || ::getegid() == st.st_gid;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(qMax(count, 0)));
    if (count > 0 && ::getgroups(count, groups.data()) == count)
        access.member =
            access.member || std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
    return access;
}

} // namespace relo::platform
