#include "core/porterror.h"

#include "link/realserialport.h"

#include "platform/permissions.h"

namespace relo {

namespace {

QString permissionRemedy(const QString &path)
{
    const std::optional<platform::FileGroup> group = platform::fileGroup(path);
    if (!group)
        return {};
    QString userName = platform::userName();
    if (userName.isEmpty())
        userName = qEnvironmentVariable("USER", QStringLiteral("$USER"));
    if (!group->mayReadWrite) {
        return QStringLiteral(": %1 grubu da açamaz, aygıtın izinlerini yönetici düzeltmeli")
            .arg(group->name);
    }
    return QStringLiteral(": %1 grubuna üye olun (sudo usermod -aG %1 %2), sonra oturumu "
                          "kapatıp yeniden açın")
        .arg(group->name, userName);
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
