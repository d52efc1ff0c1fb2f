#pragma once

#include "core/batch.h"
#include "platform/files.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

namespace relo {

// A ticket's file name: when its change was made (ns since boot), a number that
// orders tickets of the same moment, and the process that owns it (empty for a
// change of a process that sends on its own, without a folder).
struct TicketName
{
    qint64 madeAt = 0;
    qulonglong number = 0;
    QString owner;

    QString toString() const;
    // Nothing for a name that is not a ticket's (a suffix included).
    static std::optional<TicketName> parse(const QString &name);
};

// The queue's files, in one folder shared by every process that sends through
// one ayar.ini:
//
//   sira                  locked briefly while a ticket is added or the tickets read,
//                         so that order numbers and what a reader sees agree
//   port                  locked by the process whose turn it is; its time stamp
//                         is touched as a sign of progress
//   <owner>.canli         one per process, locked for the process's life
//   <ticket name>         a ticket: one waiting change, "channels states"
//   <ticket>.sonuc        the outcome of a ticket sent by another process
//   ~<owner>              a file being written, renamed into place when whole
//   kaydedilmedi          the mask last sent when ayar.ini could not be written,
//                         and the size and time of the ayar.ini it stands in for
//
// Locks are released by the system when their process ends, however it ends, so
// a dead process's tickets are recognised and removed. In a folder the accounts
// of a group share, the files are the group's to read and write; a process
// whose owner file this one may not open is asked after by its id (another
// account's process is alive when it exists, though it may not be signalled).
class QueueFolder
{
public:
    QueueFolder() = default;
    ~QueueFolder() { leave(); }
    QueueFolder(const QueueFolder &) = delete;
    QueueFolder &operator=(const QueueFolder &) = delete;

    // The queue of the ayar.ini at `settingsFile` in a folder only this user may
    // enter, under $XDG_RUNTIME_DIR, else under /tmp; empty when none is had.
    static QString privateFolderFor(const QString &settingsFile);

    // Joins the queue in `path`, making that folder (not its parents) if needed.
    bool join(const QString &path);
    void leave();
    bool isJoined() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }

    // Adds a ticket for `change`; its name, empty when it could not be written.
    QString add(const MaskChange &change, qint64 madeAt);
    // The tickets waiting now, in order; those of dead processes are removed on
    // the way. `alive` receives the process ids of the processes joined.
    QList<Ticket> waiting(QSet<qint64> *alive = nullptr);
    void remove(const QString &ticket);
    // The outcome of a ticket that another process submitted.
    void writeResult(const QString &ticket, const QByteArray &result);
    // The outcome written for one of this process's tickets, which goes with it.
    std::optional<QByteArray> takeResult(const QString &ticket);

    // The turn: held by the process that takes the port.
    bool takeTurn();
    void endTurn();
    void touchTurn();
    qint64 turnTouchedNs() const;

    // A mask that could not be saved in ayar.ini, kept for as long as ayar.ini
    // carries `stamp`.
    void keepUnsaved(Mask mask, const QByteArray &stamp);
    void forgetUnsaved();
    std::optional<Mask> unsaved(const QByteArray &stamp) const;

private:
    QString filePath(const QString &name, const char *suffix = "") const;
    bool ownerAlive(const QString &owner);
    bool writeWhole(const QString &path, const QByteArray &bytes);
    std::optional<QByteArray> readSmall(const QString &path) const;

    QString m_path;
    QString m_owner;
    platform::LockFile m_ownerFile; // locked for this process's life: it is alive
    platform::LockFile m_turnFile;  // locked by the process whose turn it is
    platform::LockFile m_orderFile; // locked briefly while tickets are added or read
};

} // namespace relo
