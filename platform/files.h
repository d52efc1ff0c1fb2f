#pragma once

#include <QByteArray>
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

// Whether a process holds a lock on the file at `path`. Unknown when the file is
// there but may not be opened (another account's file, closed to this one):
// that says nothing about its process.
enum class LockState { Free, Held, Unknown };
LockState lockState(const QString &path);

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

// A folder where accounts meet: one that its group (or anyone) may write, as the
// shared state of a system-wide install (mode 2775). Files in such a folder are
// handled with care by the functions below: opened only as themselves, never
// through a symbolic link; taken only from root or a member of the folder's
// group, and only when nobody else may write them; made writable by the group
// whatever the umask, so that every member can use them. Elsewhere they behave
// as ordinary opens do.
bool isSharedFolder(const QString &folder);

enum class FileRead {
    Read,
    Missing,
    Link,     // a symbolic link in a shared folder: not followed
    Outsider, // in a shared folder, owned by (or writable for) someone outside its group
    Failed,   // not a regular file, or it could not be read
};
// Reads up to `maxSize` bytes of the file at `path` into `bytes` (one byte more
// when the file is longer, so that the caller can tell).
FileRead readFile(const QString &path, qint64 maxSize, QByteArray *bytes);

// Writes `bytes` as a new file at `path`, a file or link there removed first;
// never through a link. In a shared folder the file is made group-writable.
// `durable`: on the disk before this returns (for a file that replaces another).
bool writeNewFile(const QString &path, const QByteArray &bytes, bool durable = false);

// Moves the file `from` to `to` unless `to` exists (false then: the file there
// stays). `from` is gone either way.
bool placeFile(const QString &from, const QString &to);

} // namespace relo::platform
