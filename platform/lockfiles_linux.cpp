#include "platform/lockfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <cerrno>

#include <signal.h>

namespace relo::platform {

QString lockFilePath(const QString &path)
{
    // QSerialPort's own choice: the first of these folders that may be read and
    // either holds the file already or may be written, the port's name with
    // "/dev/" taken off and every other slash turned into an underscore.
    static const char *const Folders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name = QStringLiteral("LCK..") + name.replace(u'/', u'_');
    for (const char *folder : Folders) {
        const QFileInfo info{QString::fromLatin1(folder)};
        if (info.isReadable() &&
            (QFile::exists(info.filePath() + u'/' + name) || info.isWritable()))
            return info.canonicalFilePath() + u'/' + name;
    }
    return {};
}

bool isStaleLock(const QString &lockFile)
{
    qint64 pid = 0;
    QString host;
    QString program;
    if (lockFile.isEmpty() || !QLockFile(lockFile).getLockInfo(&pid, &host, &program) || pid <= 0)
        return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return false; // another machine's process: no telling
    return isProcessGone(pid, program);
}

bool isProcessGone(qint64 pid, const QString &program)
{
    if (pid <= 0 || qint64(pid_t(pid)) != pid)
        return false; // not a process number: nothing to tell
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
        return true;
    // The number may since have gone to another program, as Qt also checks.
    const QString running = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    return !running.isEmpty() && QFileInfo(running).fileName() != QFileInfo(program).fileName();
}

} // namespace relo::platform
