#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QStringList>

class QSocketNotifier;
class QTimer;

namespace relo::platform {

// Tells when serial devices may have come or gone: a tty device node or the
// folder serial appeared in or left /dev, or a link was added to or removed from
// the by-id or by-path folder of `serialFolder` (/dev/serial, or the folder of
// links RELO_SERIAL_DIR names). Folders that do not exist yet are watched from
// the moment they appear. A burst of changes (a device node, then its links a
// moment later) gives one changed(), once the folders have been quiet for
// QuietMs, at the latest about LatestMs after the first change.
//
// Runs on the event loop of the thread that made it; no threads of its own.
class DeviceWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int QuietMs = 200;
    static constexpr int LatestMs = 1000;

    explicit DeviceWatcher(const QString &serialFolder, QObject *parent = nullptr);
    ~DeviceWatcher() override;

    // False when the system offers no change notification.
    bool isActive() const { return m_fd >= 0; }

Q_SIGNALS:
    void changed();

private:
    void watchFolders();
    void onReadable();
    bool matters(const QString &folder, const QString &name) const;
    void noteChange();

    const QStringList m_folders;   // /dev, the serial folder, its two link folders
    QHash<int, QString> m_watches; // watch descriptor -> folder
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *const m_settle;
    QElapsedTimer m_burst; // since the first change not reported yet
};

} // namespace relo::platform
