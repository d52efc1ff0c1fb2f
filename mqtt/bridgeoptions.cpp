#include "bridgeoptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace relo {

namespace {

// In the order of BridgeKeys.
enum Key { Host, Port, User, PasswordFile, CaFile, Node, DiscoveryPrefix, KeyCount };
const QStringList OptionNames{QStringLiteral("--host"),
                              QStringLiteral("--port"),
                              QStringLiteral("--user"),
                              QStringLiteral("--password-file"),
                              QStringLiteral("--cafile"),
                              QStringLiteral("--node"),
                              QStringLiteral("--discovery-prefix")};
const QString PasswordVariable = QStringLiteral("RELO_MQTT_PASSWORD");
// A password file is a small text file; anything bigger is not one.
constexpr qint64 MaxPasswordFileSize = 4096;

ParsedOptions refused(ParsedOptions::Action action, const QString &error)
{
    ParsedOptions parsed;
    parsed.action = action;
    parsed.error = error;
    return parsed;
}

// A topic level of our own: it must not add levels or wildcards to the topics.
bool validNode(const QString &node)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return allowed.match(node).hasMatch();
}

// One or more topic levels: no wildcards, no empty level, no NUL.
bool validPrefix(const QString &prefix)
{
    static const QRegularExpression allowed(QStringLiteral("^[^/+#\\x00]+(/[^/+#\\x00]+)*$"));
    return prefix.size() <= 128 && allowed.match(prefix).hasMatch();
}

std::optional<QString> readPassword(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(MaxPasswordFileSize + 1);
    if (file.error() != QFileDevice::NoError || text.size() > MaxPasswordFileSize)
        return std::nullopt;
    QByteArray line = text.left(text.indexOf('\n'));
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

} // namespace

ParsedOptions parseBridgeOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env)
{
    QStringList values(KeyCount);
    for (int key = 0; key < KeyCount; ++key)
        values[key] = iniValues.value(key).trimmed();
    for (const int key : {PasswordFile, CaFile}) {
        if (!values[key].isEmpty())
            values[key] = QDir(iniFolder).absoluteFilePath(values[key]);
    }

    bool passwordFileOption = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return refused(ParsedOptions::Help, {});
        if (arg == QLatin1String("--version"))
            return refused(ParsedOptions::Version, {});
        // Only the name is ever repeated back: the value may be a secret.
        const QString name = arg.section(u'=', 0, 0);
        const int key = int(OptionNames.indexOf(name));
        if (name == QLatin1String("--password"))
            return refused(ParsedOptions::Misuse,
                           QStringLiteral("Parola komut satırında verilmez: --password-file "
                                          "veya RELO_MQTT_PASSWORD kullanın"));
        if (key < 0)
            return refused(ParsedOptions::Misuse,
                           name.startsWith(u'-')
                               ? QStringLiteral("Bilinmeyen seçenek: %1").arg(name)
                               : QStringLiteral("Beklenmeyen bağımsız değişken: %1").arg(name));
        if (arg.contains(u'='))
            values[key] = arg.section(u'=', 1);
        else if (i + 1 < args.size())
            values[key] = args.at(++i);
        else
            return refused(ParsedOptions::Misuse, QStringLiteral("%1 bir değer ister").arg(name));
        passwordFileOption = passwordFileOption || key == PasswordFile;
    }

    ParsedOptions parsed;
    BridgeOptions &options = parsed.options;
    if (!values[Host].isEmpty())
        options.host = values[Host];
    if (!values[Port].isEmpty()) {
        bool ok = false;
        options.port = values[Port].toInt(&ok);
        if (!ok || options.port < 1 || options.port > 65535)
            return refused(
                ParsedOptions::Misuse,
                QStringLiteral("Geçersiz port: \"%1\" (1-65535 olmalı)").arg(values[Port]));
    }
    options.user = values[User];
    options.caFile = values[CaFile];
    if (!values[Node].isEmpty())
        options.node = values[Node];
    if (!values[DiscoveryPrefix].isEmpty())
        options.discoveryPrefix = values[DiscoveryPrefix];
    if (!validNode(options.node))
        return refused(ParsedOptions::Misuse,
                       QStringLiteral("Geçersiz düğüm adı: \"%1\" (yalnız harf, rakam, _ ve -)")
                           .arg(options.node));
    if (!validPrefix(options.discoveryPrefix))
        return refused(ParsedOptions::Misuse,
                       QStringLiteral("Geçersiz keşif öneki: \"%1\"").arg(options.discoveryPrefix));

    const QString fromEnvironment = env.value(PasswordVariable);
    if (passwordFileOption || (fromEnvironment.isEmpty() && !values[PasswordFile].isEmpty())) {
        options.password = readPassword(values[PasswordFile]);
        if (!options.password)
            return refused(
                ParsedOptions::Failed,
                QStringLiteral("Parola dosyası okunamadı: %1").arg(values[PasswordFile]));
    } else if (!fromEnvironment.isEmpty()) {
        options.password = fromEnvironment;
    }
    if (options.password && options.user.isEmpty())
        return refused(ParsedOptions::Misuse,
                       QStringLiteral("Parola için kullanıcı adı da gerekir (--user)"));
    if (!options.caFile.isEmpty() && !QFileInfo(options.caFile).isReadable())
        return refused(ParsedOptions::Failed,
                       QStringLiteral("CA dosyası okunamadı: %1").arg(options.caFile));
    return parsed;
}

QString bridgeUsage(const QString &settingsFile)
{
    return QStringLiteral(
               "Kullanım: relo-mqtt [SEÇENEK]...\n"
               "RELO'nun sekiz çıkışını bir MQTT aracısı üzerinden açıp kapatır; Home "
               "Assistant\n"
               "çıkışları MQTT keşfiyle kendiliğinden bulur.\n"
               "\n"
               "  --host AD              aracının adresi (varsayılan localhost)\n"
               "  --port N               aracının portu (varsayılan 1883)\n"
               "  --user AD              kullanıcı adı\n"
               "  --password-file DOSYA  parola bu dosyanın ilk satırındadır\n"
               "                         (ya da RELO_MQTT_PASSWORD ortam değişkeninde)\n"
               "  --cafile DOSYA         TLS ile bağlanır; aracı bu CA ile doğrulanır\n"
               "  --node AD              konuların adı: relo/AD/... (varsayılan relo;\n"
               "                         yalnız harf, rakam, _ ve -)\n"
               "  --discovery-prefix ÖN  Home Assistant keşif öneki (varsayılan "
               "homeassistant)\n"
               "  --help                 bu yardımı gösterir\n"
               "  --version              sürümü gösterir\n"
               "\n"
               "Aynı ayarlar ayar.ini dosyasının [MQTT] bölümünde de durabilir (Host, Port, "
               "User,\n"
               "PasswordFile, CaFile, Node, DiscoveryPrefix); komut satırındaki önce gelir.\n"
               "\n"
               "Konular: relo/AD/availability (online/offline), relo/AD/N/set ve relo/AD/N/state\n"
               "(N = 1-8; ON/OFF, set için 1/0 da olur), relo/AD/mask/set ve relo/AD/mask "
               "(0-255).\n"
               "Port ve çıkışlar RELOKomut ile aynı ayar dosyasındadır: %1\n"
               "Çıkış durumu: 0 durduruldu, 1 başlatılamadı, 2 hatalı kullanım.")
        .arg(settingsFile);
}

} // namespace relo
