#pragma once

#include <QString>

#include <optional>

namespace relo::platform {

// Whether this user may open the file at `path` for reading; for reading and
// writing. As the system decides it when the file is opened, groups the user
// joined since logging in not counted.
bool mayRead(const QString &path);
bool mayReadWrite(const QString &path);

// Whether this process runs as root.
bool isRoot();

// The name this user logs in with; empty when the system has none for it.
QString userName();

// The group that owns a file, for telling a user which group to join.
struct FileGroup
{
    QString name;              // its number when the system has no name for it
    bool mayReadWrite = false; // whether its members may read and write the file
};

// The group owning the file at `path` (links followed); none when the file
// cannot be looked at.
std::optional<FileGroup> fileGroup(const QString &path);

// Whether the account `uid` is root or a member of the group `gid` (its own
// group, or one it is listed in).
bool accountInGroup(uint uid, uint gid);

// A folder that the accounts of its group share.
struct SharedFolderAccess
{
    bool exists = false; // a folder is there (links followed)
    QString group;       // its group's name (its number when it has none)
    bool member = false; // this process is root or has that group among its own
};
SharedFolderAccess sharedFolderAccess(const QString &path);

} // namespace relo::platform
