#include "portmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <tuple>

namespace relo {

namespace {

// Sort key of a device path: family (ttyUSB, ttyACM, the rest), the name without
// its trailing number, the number itself (so ttyUSB2 comes before ttyUSB10).
std::tuple<int, QString, qulonglong, QString> sortKey(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    int family = 2;
    if (name.startsWith(QLatin1String("ttyUSB")))
        family = 0;
    else if (name.startsWith(QLatin1String("ttyACM")))
        family = 1;
    qsizetype digits = path.size();
    while (digits > 0 && path.at(digits - 1).isDigit() && path.at(digits - 1).unicode() < 128)
        --digits;
    const QString number = path.mid(digits);
    // An absurdly long number sorts last within its family instead of wrapping.
    bool ok = false;
    qulonglong value = number.isEmpty() ? 0 : number.toULongLong(&ok);
    if (!number.isEmpty() && !ok)
        value = ~0ull;
    return {family, path.left(digits), value, path};
}

} // namespace

QString portEnvironmentVariable(int portNumber)
{
    return QStringLiteral("RELO_COM%1").arg(portNumber);
}

QStringList orderedSystemPorts(QStringList systemPorts)
{
    systemPorts.removeDuplicates();
    std::sort(systemPorts.begin(), systemPorts.end(),
              [](const QString &a, const QString &b) { return sortKey(a) < sortKey(b); });
    return systemPorts;
}

#ifdef Q_OS_LINUX
namespace {

// A legacy 8250 UART that the kernel lists whether or not one is fitted: real
// only when the driver knows its type.
bool fitted8250(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool fitted = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return fitted;
}

} // namespace
#endif

QStringList systemSerialPorts()
{
    QStringList ports;
#ifdef Q_OS_LINUX
    // The kernel's own list, read from sysfs as Qt's port list reads it through
    // udev, but without the descriptions that make Qt's take some 15 ms: a tty
    // with a device and driver behind it is a serial port, and so are Bluetooth,
    // null-modem and gadget ttys that have none.
    const QDir classes(QStringLiteral("/sys/class/tty"));
    const QStringList names =
        classes.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : names) {
        const QString device = QStringLiteral("/dev/") + name;
        const QString driver =
            QFileInfo(classes.filePath(name) + QStringLiteral("/device/driver")).symLinkTarget();
        if (driver.isEmpty()) {
            if (name.startsWith(QLatin1String("rfcomm")) || name.startsWith(QLatin1String("tnt")) ||
                name.startsWith(QLatin1String("ttyGS")))
                ports << device;
        } else if (QFileInfo(driver).fileName() != QLatin1String("serial8250") ||
                   fitted8250(device)) {
            ports << device;
        }
    }
#else
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports << info.systemLocation();
#endif
    return ports;
}

QString devicePathForPort(int portNumber, const QProcessEnvironment &env,
                          const QStringList &systemPorts)
{
    if (portNumber < 1)
        return {};
    // Set but empty means "no device for this port".
    const QString key = portEnvironmentVariable(portNumber);
    if (env.contains(key))
        return env.value(key).trimmed();
#ifdef Q_OS_WIN
    Q_UNUSED(systemPorts)
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QStringList ordered = orderedSystemPorts(systemPorts);
    return portNumber <= ordered.size() ? ordered.at(portNumber - 1) : QString();
#endif
}

} // namespace relo
