#pragma once

#include "frame.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QFileSystemWatcher;
class QTimer;

namespace relo {

// Helpers of relo-web, a program without a window.

// One line on standard error, in UTF-8.
void logLine(const QString &line);

// Text from the network, safe for one log line: control characters, quotes and
// backslashes escaped, anything longer than `limit` bytes cut short.
QString shownText(const QByteArray &bytes, qsizetype limit = 64);

// "maske 5, açık: 1 3" ("açık: yok" when all are off).
QString openChannelsText(Mask mask);

// The first line of a small text file (a password file); nothing when the file
// cannot be read or is bigger than 4 KiB.
std::optional<QString> readFirstLine(const QString &path);

// PortData of ayar.ini in a folder, as written by any program: changed() comes
// when it takes a value other than the one last read, a burst of file events
// read once. Where the folder cannot be watched it is read once a second.
class SettingsWatch : public QObject
{
    Q_OBJECT
public:
    explicit SettingsWatch(const QString &settingsFolder, QObject *parent = nullptr);

    // Reads PortData and starts watching; returns the mask read.
    Mask start();

Q_SIGNALS:
    void changed(relo::Mask saved);

private:
    void watch();
    void check();

    const QString m_folder;
    QFileSystemWatcher *const m_watcher;
    QTimer *const m_settle;
    Mask m_fileMask = 0;
};

} // namespace relo
