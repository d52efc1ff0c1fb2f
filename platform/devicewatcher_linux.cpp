#include "platform/devicewatcher.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/inotify.h>
#include <unistd.h>

namespace relo::platform {

namespace {

const QString DeviceFolder = QStringLiteral("/dev");

constexpr uint32_t WatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

DeviceWatcher::DeviceWatcher(const QString &serialFolder, QObject *parent)
    : QObject(parent), m_folders{DeviceFolder, serialFolder,
                                 serialFolder + QStringLiteral("/by-id"),
                                 serialFolder + QStringLiteral("/by-path")},
      m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    connect(m_settle, &QTimer::timeout, this, [this] {
        m_burst.invalidate();
        Q_EMIT changed();
    });
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceWatcher::onReadable);
    watchFolders();
}

DeviceWatcher::~DeviceWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd); // the watches go with it
}

// Adds a watch for each folder that exists now and has none yet.
void DeviceWatcher::watchFolders()
{
    for (const QString &folder : m_folders) {
        if (m_watches.key(folder, -1) >= 0)
            continue;
        const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), WatchMask);
        if (wd >= 0)
            m_watches.insert(wd, folder);
    }
}

bool DeviceWatcher::matters(const QString &folder, const QString &name) const
{
    if (m_folders.indexOf(folder) >= 2)
        return true; // a link came or went
    if (m_folders.contains(folder + u'/' + name))
        return true; // a folder to watch came or went
    return folder == DeviceFolder &&
           (name.startsWith(QLatin1String("tty")) || name.startsWith(QLatin1String("rfcomm")));
}

void DeviceWatcher::onReadable()
{
    alignas(inotify_event) char buffer[4096];
    bool changes = false;
    ssize_t length;
    while ((length = ::read(m_fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changes = true; // events were lost: assume the worst
                continue;
            }
            const QString folder = m_watches.value(event->wd);
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The folder went, and its links with it; it is watched again
                // once it is back.
                ::inotify_rm_watch(m_fd, event->wd);
                m_watches.remove(event->wd);
                changes = true;
            } else if (!folder.isEmpty() && event->len > 0 &&
                       matters(folder, QFile::decodeName(event->name))) {
                changes = true;
            }
        }
    }
    if (!changes)
        return;
    watchFolders();
    noteChange();
}

void DeviceWatcher::noteChange()
{
    if (!m_burst.isValid())
        m_burst.start();
    const qint64 left = LatestMs - m_burst.elapsed();
    m_settle->start(int(qBound(qint64(0), left, qint64(QuietMs))));
}

} // namespace relo::platform
