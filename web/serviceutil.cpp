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

// A password file is a small text file; anything bigger is not one.
constexpr qint64 MaxFirstLineFileSize = 4096;

} // namespace

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

} // namespace relo
