#pragma once

#include "link/frame.h"

#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;

namespace relo {

// Follows the channel mask saved in ayar.ini (PortData) as other programs change
// it. The folder and the file are watched; a burst of events (a temporary file
// written, then renamed over ayar.ini) is read once, SettleMs after it starts.
// Where the folder cannot be watched, the file is read every PollMs instead.
//
// Only a new value counts: ayar.ini touched but not changed (its mode, another
// key, a save that failed) says nothing about the outputs. A value is new when
// it differs from the one last read here.
class StateWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int SettleMs = 50;
    static constexpr int PollMs = 1000;

    explicit StateWatcher(const QString &settingsFolder, QObject *parent = nullptr);

    // Reads the saved mask, starts watching and returns the mask.
    Mask start();
    // The saved mask as last read.
    Mask mask() const { return m_mask; }
    // Reads ayar.ini now rather than when an event says so (a change saved by
    // another process that the watch may not have reported yet).
    void check();

Q_SIGNALS:
    // PortData holds a new value.
    void maskChanged(relo::Mask mask);
    // The folder cannot be watched: from now on ayar.ini is read every PollMs.
    // Emitted once.
    void polling();

private:
    void watch();

    const QString m_folder;
    QFileSystemWatcher *const m_watcher;
    QTimer *const m_settle; // also the poll, once watching failed
    Mask m_mask = 0;
};

} // namespace relo
