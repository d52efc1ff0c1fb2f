#pragma once

#include <QString>

namespace relo::platform {

// A file held open for its lock. Locks are advisory and whole-file, and the
// system drops them when their process ends, however it ends: a lock that is
// held says that its process is alive.
class LockFile
{
public:
    enum class Create { IfMissing, Only };

    LockFile() = default;
    ~LockFile() { close(); }
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    // Opens (and with Create::Only, makes: false when it exists) the file.
    bool open(const QString &path, Create create = Create::IfMissing);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    // Takes the lock, waiting for it, or with `wait` false only when it is free
    // now. False when it was not had.
    bool lock(bool wait = true);
    void unlock();

    // Marks the file as modified now, and reads that mark (ns; -1 when unknown).
    void touch();
    qint64 modifiedNs() const;

private:
    int m_fd = -1;
};

// Whether a process holds a lock on the file at `path`: false for a file that
// no one locks, or that cannot be opened.
bool isLockHeld(const QString &path);

// Moves the file `from` over `to` in one step: readers see the old file or the
// new one, never a part.
bool replaceFile(const QString &from, const QString &to);

// Makes the folder at `path` (not its parents) unless it exists, and says
// whether it is there now. With `privateToUser`, made with no access for anyone
// else, and accepted only as a folder (not a link) of this user's that no one
// else may enter.
bool makeFolder(const QString &path, bool privateToUser = false);

// This user's number, for names of per-user files.
QString userId();

} // namespace relo::platform
