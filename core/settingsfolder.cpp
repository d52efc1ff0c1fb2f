#include "settingsfolder.h"

#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace relo {

namespace {

bool mayWrite(const QString &folder)
{
    const QString file = settingsPath(folder);
    return QFileInfo(folder).isWritable() &&
           (!QFileInfo::exists(file) || QFileInfo(file).isWritable());
}

} // namespace

QString privateSettingsFolder()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config.isEmpty() ? QString() : QDir(config).filePath(QStringLiteral("RELO"));
}

QString settingsFolder(const QString &programFolder)
{
    // The file as well as the folder: an ayar.ini left by root in a user's own
    // folder cannot be replaced by that user.
    if (mayWrite(programFolder))
        return programFolder;
    const QString folder = privateSettingsFolder();
    if (folder.isEmpty())
        return programFolder;
    const QString path = settingsPath(folder);
    if (QFileInfo::exists(path))
        return folder;

    // A private copy is made now, or the shipped file is what is read.
    const QString shipped = settingsPath(programFolder);
    if (!QDir().mkpath(folder))
        return programFolder;
    if (!QFileInfo::exists(shipped))
        return QFileInfo(folder).isWritable() ? folder : programFolder;
    if (!QFile::copy(shipped, path))
        return programFolder;
    // The copy keeps the shipped file's mode, which may not let its new owner
    // write.
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
    return folder;
}

int savedPort(const QString &folder)
{
    const std::optional<qint16> saved = wholeNumberSetting(readSetting(folder, PortNumberKey));
    return saved && *saved > 0 ? *saved : 1;
}

Mask savedMask(const QString &folder)
{
    return maskSetting(readSetting(folder, PortDataKey)).value_or(0);
}

bool savePortChoice(const QString &folder, int number)
{
    const bool samePort = number == savedPort(folder);
    return writeSetting(folder, PortNumberKey, QString::number(number)) &&
           (samePort || writeSetting(folder, PortDataKey, QStringLiteral("0")));
}

QString settingsSaveError(const QString &folder)
{
    QString line = QStringLiteral("ayar.ini yazılamadı: %1").arg(settingsPath(folder));
    if (mayWrite(folder))
        return line; // a full disk, a file replaced under us: nothing to advise
    const QString own = privateSettingsFolder();
    if (!own.isEmpty() && QDir(own) != QDir(folder))
        line +=
            QStringLiteral(" (yazma izni yok; kişisel ayar klasörü %1 de oluşturulamadı)").arg(own);
    else
        line += QStringLiteral(" (yazma izni yok)");
    return line + QStringLiteral(": kullanıcıya yazılabilir bir ev klasörü verin ya da "
                                 "XDG_CONFIG_HOME ile yazılabilir bir klasör gösterin");
}

} // namespace relo
