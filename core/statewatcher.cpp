#include "core/statewatcher.h"

#include "core/settingsfile.h"
#include "core/settingsfolder.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace relo {

StateWatcher::StateWatcher(const QString &settingsFolder, QObject *parent)
    : QObject(parent), m_folder(settingsFolder), m_watcher(new QFileSystemWatcher(this)),
      m_settle(new QTimer(this))
{
    m_settle->setSingleShot(true);
    m_settle->setInterval(SettleMs);
    connect(m_settle, &QTimer::timeout, this, [this] {
        watch();
        check();
    });
    // Read SettleMs after the first event of a burst, not after the last: the
    // queue's own files beside ayar.ini change all through a batch, and a timer
    // started again on every event would wait until the batch is over.
    const auto settle = [this] {
        if (!m_settle->isActive())
            m_settle->start();
    };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
}

Mask StateWatcher::start()
{
    m_mask = savedMask(m_folder);
    watch();
    return m_mask;
}

void StateWatcher::watch()
{
    if (!m_watcher->directories().contains(m_folder) && !m_watcher->addPath(m_folder) &&
        m_settle->isSingleShot()) {
        m_settle->setSingleShot(false);
        m_settle->start(PollMs);
        Q_EMIT polling();
    }
    // Editors and QSaveFile replace the file: its watch ends with it.
    const QString path = settingsPath(m_folder);
    if (!m_watcher->files().contains(path) && QFileInfo::exists(path))
        m_watcher->addPath(path);
}

void StateWatcher::check()
{
    const Mask saved = savedMask(m_folder);
    if (saved == m_mask)
        return;
    m_mask = saved;
    Q_EMIT maskChanged(saved);
}

} // namespace relo
