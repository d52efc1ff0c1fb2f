#include "platform/serialdevices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace relo::platform {

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

QStringList serialDevices()
{
    // The kernel's own list, read from sysfs as Qt's port list reads it through
    // udev, but without the descriptions that make Qt's take some 15 ms: a tty
    // with a device and driver behind it is a serial port, and so are Bluetooth,
    // null-modem and gadget ttys that have none.
    QStringList ports;
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
    return ports;
}

bool isCharDevice(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

void waitUntilSent(qintptr handle)
{
    while (::tcdrain(int(handle)) != 0 && errno == EINTR) {
    }
}

bool hasRoomToWrite(qintptr handle)
{
    pollfd p{int(handle), POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
}

QHash<QString, QString> serialDeviceLinks(const QString &folder)
{
    QHash<QString, QString> found; // device path -> link
    for (const char *kind : {"by-id", "by-path"}) {
        const QDir links(folder + u'/' + QLatin1String(kind));
        const QStringList names =
            links.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            const QString device = QFileInfo(links.filePath(name)).canonicalFilePath();
            if (!device.isEmpty() && !found.contains(device) && isCharDevice(device))
                found.insert(device, links.filePath(name));
        }
    }
    return found;
}

} // namespace relo::platform
