#include "platform/processes.h"

#include "platform/permissions.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QString>

#include <cerrno>
#include <csignal>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

namespace relo::platform {

namespace {

// When the process of a /proc/<pid>/stat file started, in ns since boot (-1 when
// it cannot be told or the process has ended but was not yet reaped), and its
// program name: field 22 is the start in clock ticks, counted after the name,
// which may hold blanks and parentheses; field 3 is the state.
qint64 startTimeOf(const QString &statPath, QByteArray *name = nullptr)
{
    QFile stat(statPath);
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.read(1024);
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return -1;
    if (name)
        *name = text.mid(open + 1, close - open - 1);
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.value(0) == "Z" || fields.value(0) == "X")
        return -1;
    bool ok = false;
    const qint64 ticks = fields.value(19).toLongLong(&ok);
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    return ok && perSecond > 0 ? ticks * (1000000000 / perSecond) : -1;
}

} // namespace

qint64 bootClockNs()
{
    timespec time{};
    ::clock_gettime(CLOCK_BOOTTIME, &time);
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

qint64 processStartNs()
{
    return startTimeOf(QStringLiteral("/proc/self/stat"));
}

QList<StartedProcess> processesNamed(const QByteArray &name, const QString &sharedFolder)
{
    QList<StartedProcess> found;
    struct stat folder
    {};
    const bool shared = !sharedFolder.isEmpty() &&
                        ::stat(QFile::encodeName(sharedFolder).constData(), &folder) == 0;
    QHash<uint, bool> sharing; // account -> whether it shares the folder
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        struct stat info
        {};
        if (!isPid || pid == ::getpid() ||
            ::stat(QFile::encodeName(QStringLiteral("/proc/") + entry).constData(), &info) != 0)
            continue;
        if (shared) {
            auto account = sharing.find(info.st_uid);
            if (account == sharing.end())
                account = sharing.insert(info.st_uid, accountInGroup(info.st_uid, folder.st_gid));
            if (!account.value())
                continue;
        } else if (info.st_uid != ::getuid()) {
            continue;
        }
        QByteArray program;
        const qint64 started = startTimeOf(QStringLiteral("/proc/%1/stat").arg(entry), &program);
        if (program == name && started >= 0)
            found.append({pid, started});
    }
    return found;
}

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace relo::platform
