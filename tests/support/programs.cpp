#include "support/programs.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <csignal>

#include <sys/prctl.h>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray savedSettings(int port, int mask)
{
    return "[RELO]\nPortNumber=" + QByteArray::number(port) +
           "\nPortData=" + QByteArray::number(mask) + '\n';
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void endWithTest(QProcess &process)
{
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

Outcome runProgram(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess process;
    endWithTest(process);
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString copyProgram(const QString &name, const QString &folder)
{
    const QString copy = folder + u'/' + name;
    return QFile::copy(QCoreApplication::applicationDirPath() + u'/' + name, copy) ? copy
                                                                                   : QString();
}

QProcessEnvironment portEnvironment(const QHash<int, QString> &ports)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (int n = 1; n <= 10; ++n)
        env.insert(QStringLiteral("RELO_COM%1").arg(n),
                   ports.value(n, QStringLiteral("/nonexistent/tty%1").arg(n)));
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    return env;
}
