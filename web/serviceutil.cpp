#include "serviceutil.h"

#include "settingsfile.h"
#include "settingsfolder.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

#include <cstdio>

namespace relo {

namespace {

// Events on ayar.ini come in bursts (a temporary file written, then renamed).
constexpr int SettleMs = 50;
// Where the file cannot be watched it is read this often instead.
constexpr int PollMs = 1000;
// A password file is a small text file; anything bigger is not one.
constexpr qint64 MaxFirstLineFileSize = 4096;

} // namespace

void logLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

QString shownText(const QByteArray &bytes, qsizetype limit)
{
    QByteArray out;
    for (const char c : bytes.left(limit)) {
        if (uchar(c) < 0x20 || c == 0x7F || c == '"' || c == '\\')
            out += "\\x" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    if (bytes.size() > limit)
        out += "… (" + QByteArray::number(bytes.size()) + " bayt)";
    return QString::fromUtf8(out);
}

QString openChannelsText(Mask mask)
{
    QStringList open;
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (mask & channelBit(channel))
            open << QString::number(channel);
    }
    return QStringLiteral("maske %1, açık: %2")
        .arg(mask)
        .arg(open.isEmpty() ? QStringLiteral("yok") : open.join(u' '));
}

std::optional<QString> readFirstLine(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(MaxFirstLineFileSize + 1);
    if (file.error() != QFileDevice::NoError || text.size() > MaxFirstLineFileSize)
        return std::nullopt;
    QByteArray line = text.left(text.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

SettingsWatch::SettingsWatch(const QString &settingsFolder, QObject *parent)
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
    // queue's own files beside ayar.ini change all through a batch, and a
    // timer started again on every event would wait until the batch is over.
    const auto settle = [this] {
        if (!m_settle->isActive())
            m_settle->start();
    };
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, settle);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, settle);
}

Mask SettingsWatch::start()
{
    m_fileMask = savedMask(m_folder);
    watch();
    return m_fileMask;
}

void SettingsWatch::watch()
{
    if (!m_watcher->directories().contains(m_folder) && !m_watcher->addPath(m_folder) &&
        m_settle->isSingleShot()) {
        m_settle->setSingleShot(false);
        m_settle->start(PollMs);
        logLine(QStringLiteral("ayar.ini izlenemiyor; saniyede bir okunacak"));
    }
    // Editors and QSaveFile replace the file: its watch ends with it.
    const QString path = settingsPath(m_folder);
    if (!m_watcher->files().contains(path) && QFileInfo::exists(path))
        m_watcher->addPath(path);
}

void SettingsWatch::check()
{
    // Only a new value counts: ayar.ini touched but not changed (its mode, a save
    // that failed) says nothing about the outputs.
    const Mask saved = savedMask(m_folder);
    if (saved == m_fileMask)
        return;
    m_fileMask = saved;
    Q_EMIT changed(saved);
}

} // namespace relo
