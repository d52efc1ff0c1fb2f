#include "settingsfolder.h"

#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace relo {

QString settingsFolder(const QString &programFolder)
{
    // The file as well as the folder: an ayar.ini left by root in a user's own
    // folder cannot be replaced by that user.
    const QString shipped = settingsPath(programFolder);
    if (QFileInfo(programFolder).isWritable() &&
        (!QFileInfo::exists(shipped) || QFileInfo(shipped).isWritable()))
        return programFolder;
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (config.isEmpty())
        return programFolder;

    const QString folder = QDir(config).filePath(QStringLiteral("RELO"));
    const QString path = settingsPath(folder);
    if (!QFileInfo::exists(path) && QDir().mkpath(folder) && QFileInfo::exists(shipped) &&
        QFile::copy(shipped, path)) {
        // The copy keeps the shipped file's mode, which may not let its new
        // owner write.
        QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
    }
    return folder;
}

} // namespace relo
