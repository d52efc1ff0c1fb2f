#include "dev/localbroker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace relo {

namespace {

// A port on 127.0.0.1 that nobody listens on now, 0 when none could be had.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace

bool LocalBroker::start(int timeoutMs)
{
    stop();
    if (m_port == 0)
        m_port = freePort();
    const passwd *user = ::getpwuid(::geteuid());
    // Not on an ordinary user's PATH on Debian.
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"),
        QString::fromLocal8Bit(qgetenv("PATH")).split(u':') +
            QStringList{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    const QString config = QDir(m_folder).filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (m_port == 0 || !user || program.isEmpty() || !file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("mosquitto başlatılamadı (kurulu mu?)");
        return false;
    }
    // As root, mosquitto would otherwise drop to the user "mosquitto".
    file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                              "log_dest stderr\n"
                              "user %2\n")
                   .arg(m_port)
                   .arg(QString::fromLocal8Bit(user->pw_name))
                   .toUtf8());
    file.close();

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, {QStringLiteral("-c"), config});
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray output;
    while (!output.contains(" running") && m_process.state() != QProcess::NotRunning &&
           m_process.waitForReadyRead(int(deadline.remainingTime())))
        output += m_process.readAll();
    if (output.contains(" running"))
        return true;
    m_error = QStringLiteral("mosquitto başlamadı: %1").arg(QString::fromLocal8Bit(output));
    stop();
    return false;
}

void LocalBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace relo
