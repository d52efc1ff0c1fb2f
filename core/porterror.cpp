#include "porterror.h"

#include "realserialport.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace relo {

namespace {

QString permissionRemedy(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    const passwd *user = ::getpwuid(::getuid());
    const group *owners = ::getgrgid(st.st_gid);
    const QString userName = user ? QString::fromLocal8Bit(user->pw_name)
                                  : qEnvironmentVariable("USER", QStringLiteral("$USER"));
    const QString groupName =
        owners ? QString::fromLocal8Bit(owners->gr_name) : QString::number(st.st_gid);
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return QStringLiteral(": %1 grubu da açamaz, aygıtın izinlerini yönetici düzeltmeli")
            .arg(groupName);
    }
    return QStringLiteral(": %1 grubuna üye olun (sudo usermod -aG %1 %2), sonra oturumu "
                          "kapatıp yeniden açın")
        .arg(groupName, userName);
#else
    Q_UNUSED(path)
    return {};
#endif
}

} // namespace

QString portName(int portNumber)
{
    return QStringLiteral("Com - %1").arg(portNumber);
}

QString portErrorLine(int portNumber, SerialPort::OpenError error, const PortDevice &device)
{
    QString line = QStringLiteral("Port Hatası: ") + portName(portNumber);
    const QString name = device.path.isEmpty() ? device.adapter : device.path;
    if (!name.isEmpty())
        line += QStringLiteral(" (%1)").arg(name);
    switch (error) {
    case SerialPort::OpenError::Missing:
        return line + QStringLiteral(" bulunamadı");
    case SerialPort::OpenError::Busy:
        return line + QStringLiteral(" başka bir program tarafından kullanılıyor");
    case SerialPort::OpenError::NoPermission:
        return line + QStringLiteral(" açma izni yok") + permissionRemedy(device.path);
    case SerialPort::OpenError::StaleLock: {
        const QString lock = lockFilePath(device.path);
        return line + QStringLiteral(" kilitli: kilit dosyası %1 artık çalışmayan bir programdan "
                                     "kaldı ve silinemiyor; yönetici silmeli (sudo rm %1)")
                          .arg(lock);
    }
    case SerialPort::OpenError::None:
    case SerialPort::OpenError::Other:
        break;
    }
    return line + QStringLiteral(" açılamadı");
}

} // namespace relo
