#include "core/settingsfolder.h"

#include "platform/files.h"
#include "platform/permissions.h"
#include "core/settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace relo {

namespace {

const QString RegistryFileName = QStringLiteral("portlar.ini");

bool mayWrite(const QString &folder)
{
    const QString file = settingsPath(folder);
    return QFileInfo(folder).isWritable() &&
           (!QFileInfo::exists(file) || QFileInfo(file).isWritable());
}

QString folderFromEnvironment(const char *variable, const char *built)
{
    const QString set = qEnvironmentVariable(variable);
    return QDir::cleanPath(set.isEmpty() ? QString::fromUtf8(built) : set);
}

// The first of `sources` that exists becomes the file `name` of the shared
// folder, unless another account got there first.
void seed(const QString &name, const QStringList &sources)
{
    const QString target = QDir(sharedStateFolder()).filePath(name);
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        return;
    for (const QString &source : sources) {
        QFile file(source);
        if (source.isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        const QString temporary =
            target + QStringLiteral(".~%1").arg(QCoreApplication::applicationPid());
        if (platform::writeNewFile(temporary, file.read(1024 * 1024), true))
            platform::placeFile(temporary, target);
        return;
    }
}

QString joinNote(const QString &group, const QString &privateFolder)
{
    const QString user = platform::userName();
    return QStringLiteral("Bu hesap (%1) %2 grubunda olmadığı için diğer hesapların ortak "
                          "RELO ayarlarını paylaşamıyor, kişisel ayarı kullanıyor (%3); "
                          "katılmak için: sudo usermod -aG %2 %1, ardından oturumu kapatıp "
                          "yeniden açın")
        .arg(user.isEmpty() ? platform::userId() : user, group, settingsPath(privateFolder));
}

// Today's private copy (see settingsFolder()).
QString privateFolderFor(const QString &programFolder)
{
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

} // namespace

QString sharedStateFolder()
{
    return folderFromEnvironment("RELO_SHARED_STATE_DIR", RELO_SHARED_STATE_DIR);
}

QString sharedRunFolder()
{
    return folderFromEnvironment("RELO_SHARED_RUN_DIR", RELO_SHARED_RUN_DIR);
}

bool isSharedStateFolder(const QString &folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath()) == sharedStateFolder();
}

QString privateSettingsFolder()
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config.isEmpty() ? QString() : QDir(config).filePath(QStringLiteral("RELO"));
}

SettingsPlace choosePlace(const PlaceFacts &facts)
{
    const bool shared = facts.sharedFolderExists && facts.inItsGroup;
    if (facts.programFolderWritable && !(facts.rootInRootsFolder && shared))
        return SettingsPlace::ProgramFolder;
    return shared ? SettingsPlace::Shared : SettingsPlace::Private;
}

SettingsPlace settingsPlace(const QString &programFolder)
{
    const platform::SharedFolderAccess shared = platform::sharedFolderAccess(sharedStateFolder());
    PlaceFacts facts;
    // The file as well as the folder: an ayar.ini left by root in a user's own
    // folder cannot be replaced by that user.
    facts.programFolderWritable = mayWrite(programFolder);
    facts.rootInRootsFolder = platform::isRoot() && QFileInfo(programFolder).ownerId() == 0;
    facts.sharedFolderExists = shared.exists;
    facts.inItsGroup = shared.member;
    return choosePlace(facts);
}

SettingsChoice chooseSettingsFolder(const QString &programFolder)
{
    switch (settingsPlace(programFolder)) {
    case SettingsPlace::ProgramFolder:
        return {programFolder, {}};
    case SettingsPlace::Shared: {
        // The private copy first: it holds the port this account chose before the
        // shared folder was there.
        const QString own = privateSettingsFolder();
        const auto ownFile = [&](const QString &name) {
            return own.isEmpty() ? QString() : QDir(own).filePath(name);
        };
        seed(SettingsFileName, {ownFile(SettingsFileName), settingsPath(programFolder)});
        seed(RegistryFileName,
             {ownFile(RegistryFileName), QDir(programFolder).filePath(RegistryFileName)});
        const QString folder = sharedStateFolder();
        return {folder, settingsFileProblem(settingsPath(folder))};
    }
    case SettingsPlace::Private:
        break;
    }
    const QString folder = privateFolderFor(programFolder);
    const platform::SharedFolderAccess shared = platform::sharedFolderAccess(sharedStateFolder());
    return {folder, shared.exists ? joinNote(shared.group, folder) : QString()};
}

QString settingsFolder(const QString &programFolder)
{
    return chooseSettingsFolder(programFolder).folder;
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
    const QString problem = settingsFileProblem(settingsPath(folder));
    if (!problem.isEmpty())
        return line + QStringLiteral(" (") + problem + u')';
    if (mayWrite(folder))
        return line; // a full disk, a file replaced under us: nothing to advise
    if (isSharedStateFolder(folder)) {
        // Shared by the accounts of the folder's group, which this one may be in
        // only since its last login, or the folder was made wrongly.
        const QString group = platform::sharedFolderAccess(folder).group;
        const QString user = platform::userName();
        return line + QStringLiteral(" (yazma izni yok): ortak klasör %1 grubunundur; "
                                     "hesabı gruba ekleyip (sudo usermod -aG %1 %2) yeniden "
                                     "oturum açın ya da klasörün iznini düzeltin (2775, "
                                     "sahibi root:%1)")
                          .arg(group, user.isEmpty() ? platform::userId() : user);
    }
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
