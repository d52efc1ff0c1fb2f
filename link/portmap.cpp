#include "link/portmap.h"

#include "platform/serialdevices.h"

#include <QFileInfo>

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

QStringList systemSerialPorts()
{
    return platform::serialDevices();
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
    const QStringList ordered = orderedSystemPorts(systemPorts);
    return portNumber <= ordered.size() ? ordered.at(portNumber - 1) : QString();
}

} // namespace relo
