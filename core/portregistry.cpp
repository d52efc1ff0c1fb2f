#include "core/portregistry.h"

#include "link/portmap.h"
#include "platform/serialdevices.h"
#include "core/settingsfile.h"
#include "core/settingsfolder.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <memory>

namespace relo {

namespace {

const QString SystemSerialFolder = QStringLiteral("/dev/serial");
const QString Section = QStringLiteral("Portlar");
constexpr qint64 RefreshMs = 1000;
// The time of an adapter that is plugged in is written again only once it is
// this old, so that looking at the ports does not rewrite the file every time.
constexpr qint64 SeenResolutionSecs = 3600;
// What one line of the file holds after the time and its blank.
constexpr qsizetype MaxAdapterLength = 254 - 21;

// The serial devices present now, each with its adapter, in the order in which
// new adapters get their numbers.
QList<PortDevice> presentDevices(const QString &serialFolder)
{
    QHash<QString, QString> adapters = platform::serialDeviceLinks(serialFolder);
    if (serialFolder == SystemSerialFolder) {
        for (const QString &path : systemSerialPorts()) {
            if (!adapters.contains(path))
                adapters.insert(path, path);
        }
    }
    QList<PortDevice> devices;
    for (const QString &path : orderedSystemPorts(adapters.keys())) {
        // A name the file cannot hold on one line: the device path stands in.
        const QString adapter = adapters.value(path);
        const bool storable = adapter.size() <= MaxAdapterLength && !adapter.contains(u'\n') &&
                              !adapter.contains(u'\r') && !adapter.contains(QChar());
        devices.append({path, storable ? adapter : path});
    }
    return devices;
}

} // namespace

QString PortRegistry::line(const Entry &entry)
{
    return entry.seen.isValid() ? entry.seen.toString(Qt::ISODate) + u' ' + entry.adapter
                                : entry.adapter;
}

PortRegistry::PortRegistry(const QString &file, const QString &serialFolder)
    : m_file(file), m_serialFolder(serialFolder)
{}

QString PortRegistry::defaultFile()
{
    // The user's own folder where it is, or can be, made; else (a service account
    // without a home) the registry beside the program, which an administrator
    // may ship and which is read as far as it can be.
    const QString name = QStringLiteral("portlar.ini");
    // A system-wide install shares one registry, as it shares ayar.ini.
    if (settingsPlace(QCoreApplication::applicationDirPath()) == SettingsPlace::Shared)
        return QDir(sharedStateFolder()).filePath(name);
    const QString own = privateSettingsFolder();
    if (own.isEmpty())
        return QDir(QCoreApplication::applicationDirPath()).filePath(name);
    QFileInfo nearest(own);
    while (!nearest.exists() && !nearest.isRoot())
        nearest = QFileInfo(nearest.absolutePath());
    const bool usable =
        QFileInfo::exists(QDir(own).filePath(name)) || (nearest.isDir() && nearest.isWritable());
    return QDir(usable ? own : QCoreApplication::applicationDirPath()).filePath(name);
}

QString PortRegistry::defaultSerialFolder()
{
    const QString folder = qEnvironmentVariable("RELO_SERIAL_DIR");
    return folder.isEmpty() ? SystemSerialFolder : folder;
}

PortDevice PortRegistry::device(int portNumber)
{
    refresh();
    if (portNumber < 1 || portNumber > Size)
        return {};
    return {m_plugged.value(portNumber), m_entries[size_t(portNumber - 1)].adapter};
}

int PortRegistry::numberOf(const QString &adapter) const
{
    const auto at = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry &entry) { return entry.adapter == adapter; });
    return at == m_entries.end() ? 0 : int(at - m_entries.begin()) + 1;
}

int PortRegistry::assign(const QString &adapter)
{
    int chosen = numberOf(QString()); // the lowest free number
    if (chosen == 0) {
        // All ten held: of the adapters not plugged in, the one seen longest ago
        // (never counts as longest ago) gives its number up.
        for (int n = 1; n <= Size; ++n) {
            const QDateTime &seen = m_entries[size_t(n - 1)].seen;
            if (!m_plugged.contains(n) &&
                (chosen == 0 || seen < m_entries[size_t(chosen - 1)].seen))
                chosen = n;
        }
    }
    if (chosen > 0)
        m_entries[size_t(chosen - 1)] = {adapter, {}};
    return chosen;
}

void PortRegistry::refresh()
{
    if (m_age.isValid() && !m_age.hasExpired(RefreshMs))
        return;
    m_age.start();

    QStringList keys;
    for (int n = 1; n <= Size; ++n)
        keys << QString::number(n);
    const std::optional<QStringList> stored = readIniValues(m_file, Section, keys);
    QList<std::pair<QString, QString>> changes;
    m_entries = {};
    for (int n = 1; stored && n <= Size; ++n) {
        const QString value = stored->at(n - 1);
        const QDateTime seen = QDateTime::fromString(value.section(u' ', 0, 0), Qt::ISODate);
        Entry entry{seen.isValid() ? value.section(u' ', 1).trimmed() : value, seen};
        // An adapter written under two numbers (a hand edit) keeps the first.
        if (!entry.adapter.isEmpty() && numberOf(entry.adapter) > 0) {
            entry = {};
            changes.append({keys.at(n - 1), QString()});
        }
        m_entries[size_t(n - 1)] = entry;
    }
    // Unreadable, or not one adapter in a file that is not empty: not a registry.
    const bool rebuild =
        !stored || (std::all_of(m_entries.begin(), m_entries.end(),
                                [](const Entry &e) { return e.adapter.isEmpty(); }) &&
                    QFileInfo(m_file).size() > 0);

    // Known adapters first, so that none of them loses its number to a new one.
    m_plugged.clear();
    QList<PortDevice> newcomers;
    for (const PortDevice &device : presentDevices(m_serialFolder)) {
        const int n = numberOf(device.adapter);
        if (n > 0)
            m_plugged.insert(n, device.path);
        else
            newcomers.append(device);
    }
    for (const PortDevice &device : newcomers) {
        const int n = assign(device.adapter);
        if (n > 0)
            m_plugged.insert(n, device.path);
    }

    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (auto it = m_plugged.cbegin(); it != m_plugged.cend(); ++it) {
        Entry &entry = m_entries[size_t(it.key() - 1)];
        if (entry.seen.isValid() && entry.seen.secsTo(now) < SeenResolutionSecs)
            continue;
        entry.seen = now;
        changes.append({keys.at(it.key() - 1), line(entry)});
    }
    if (rebuild) {
        changes.clear();
        for (int n = 1; n <= Size; ++n) {
            if (!m_entries[size_t(n - 1)].adapter.isEmpty())
                changes.append({keys.at(n - 1), line(m_entries[size_t(n - 1)])});
        }
    } else if (changes.isEmpty()) {
        return;
    }
    // Should the file not be written, the numbers given here hold for this run.
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    writeIniValues(m_file, Section, changes, rebuild);
}

RealSerialPort::Resolver registryResolver()
{
    const auto registry = std::make_shared<PortRegistry>();
    return [registry](int portNumber) { return registry->device(portNumber); };
}

RealSerialPort *registeredSerialPort(QObject *parent)
{
    auto *port = new RealSerialPort(parent);
    const auto registry = std::make_shared<PortRegistry>();
    port->setResolver([registry](int portNumber) { return registry->device(portNumber); },
                      [registry] { registry->refreshSoon(); });
    return port;
}

} // namespace relo
