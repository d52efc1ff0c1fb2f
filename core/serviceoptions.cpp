#include "core/serviceoptions.h"

#include "core/consoleline.h"
#include "core/settingsfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace relo {

namespace {

// A password file is a small text file; anything bigger is not one.
constexpr qint64 MaxFirstLineFileSize = 4096;

} // namespace

QStringList ServiceCommandLine::keys() const
{
    QStringList keys;
    for (const ServiceOption &option : options)
        keys << option.key;
    return keys;
}

ServiceArguments ServiceArguments::refused(Action action, const QString &error)
{
    ServiceArguments parsed;
    parsed.action = action;
    parsed.error = error;
    return parsed;
}

ServiceArguments readServiceArguments(const ServiceCommandLine &line, const QStringList &args,
                                      const QStringList &iniValues, const QString &iniFolder,
                                      const QProcessEnvironment &env)
{
    ServiceArguments parsed;
    int passwordFile = -1;
    for (int i = 0; i < line.options.size(); ++i) {
        const ServiceOption &option = line.options.at(i);
        const QString value = iniValues.value(i).trimmed();
        if (option.key == QLatin1String("PasswordFile"))
            passwordFile = i;
        if (value.isEmpty())
            parsed.values << QStringList();
        else if (option.kind == ServiceOption::List)
            parsed.values << value.split(QRegularExpression(QStringLiteral("[\\s,]+")),
                                         Qt::SkipEmptyParts);
        else if (option.kind == ServiceOption::Path)
            parsed.values << QStringList{QDir(iniFolder).absoluteFilePath(value)};
        else
            parsed.values << QStringList{value};
    }

    QList<bool> given(line.options.size(), false);
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return ServiceArguments::refused(ServiceArguments::Help, {});
        if (arg == QLatin1String("--version"))
            return ServiceArguments::refused(ServiceArguments::Version, {});
        // Only the name is ever repeated back: the value may be a secret.
        const QString name = arg.section(u'=', 0, 0);
        if (name == QLatin1String("--password"))
            return ServiceArguments::refused(
                ServiceArguments::Misuse,
                QStringLiteral("Parola komut satırında verilmez: --password-file veya %1 kullanın")
                    .arg(line.passwordVariable));
        const auto known = std::find_if(line.options.begin(), line.options.end(),
                                        [&](const ServiceOption &o) { return o.name == name; });
        if (known == line.options.end())
            return ServiceArguments::refused(
                ServiceArguments::Misuse,
                (name.startsWith(u'-') ? QStringLiteral("Bilinmeyen seçenek: %1")
                                       : QStringLiteral("Beklenmeyen bağımsız değişken: %1"))
                    .arg(shownText(name.toUtf8())));
        QString value;
        if (arg.contains(u'='))
            value = arg.section(u'=', 1);
        else if (i + 1 < args.size())
            value = args.at(++i);
        else
            return ServiceArguments::refused(ServiceArguments::Misuse,
                                             QStringLiteral("%1 bir değer ister").arg(name));
        const int key = int(known - line.options.begin());
        if (known->kind != ServiceOption::List || !given[key])
            parsed.values[key].clear();
        parsed.values[key] << value;
        given[key] = true;
    }

    const QString fromFile = parsed.value(passwordFile);
    const QString fromEnvironment = env.value(line.passwordVariable);
    if ((passwordFile >= 0 && given[passwordFile]) ||
        (fromEnvironment.isEmpty() && !fromFile.isEmpty())) {
        parsed.password = readFirstLine(fromFile);
        parsed.passwordFile = fromFile;
        if (!parsed.password)
            return ServiceArguments::refused(
                ServiceArguments::Failed,
                QStringLiteral("Parola dosyası okunamadı: %1").arg(fromFile));
    } else if (!fromEnvironment.isEmpty()) {
        parsed.password = fromEnvironment;
    }
    return parsed;
}

QString serviceSettingsFile(const ServiceCommandLine &line, const QString &settingsFolder,
                            QString *note)
{
    const QString file = settingsPath(settingsFolder);
    if (!isSharedStateFolder(settingsFolder))
        return file;
    const QStringList shared =
        readIniValues(file, line.section, line.keys()).value_or(QStringList());
    if (std::any_of(shared.begin(), shared.end(), [](const QString &v) { return !v.isEmpty(); }))
        *note = QStringLiteral("%1 içindeki [%2] bölümü okunmadı: o dosyayı grubun her hesabı "
                               "yazabilir; %3 seçeneklerini komut satırında ya da bu hesabın "
                               "kendi ayar.ini dosyasında verin")
                    .arg(file, line.section, line.program);
    const QString own = privateSettingsFolder();
    return own.isEmpty() ? QString() : settingsPath(own);
}

std::optional<int> answerArguments(const ServiceCommandLine &line, ServiceArguments::Action action,
                                   const QString &error, const QString &version,
                                   const QString &usage)
{
    switch (action) {
    case ServiceArguments::Run:
        return std::nullopt;
    case ServiceArguments::Help:
        printLine(stdout, usage);
        return 0;
    case ServiceArguments::Version:
        printLine(stdout, line.program + u' ' + version);
        return 0;
    case ServiceArguments::Misuse:
        printLine(stderr, error + QStringLiteral("\nYardım için: %1 --help").arg(line.program));
        return 2;
    case ServiceArguments::Unsafe:
        printLine(stderr, error);
        return 2;
    case ServiceArguments::Failed:
        printLine(stderr, error);
        return 1;
    }
    return 1;
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

} // namespace relo
