#pragma once

#include <QString>

#include <optional>

namespace relo::platform {

// Whether this user may open the file at `path` for reading; for reading and
// writing. As the system decides it when the file is opened, groups the user
// joined since logging in not counted.
bool mayRead(const QString &path);
bool mayReadWrite(const QString &path);

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

} // namespace relo::platform
