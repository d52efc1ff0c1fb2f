#include "mqtt/bridgeoptions.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace relo {

namespace {

// In the order of bridgeCommandLine().options.
enum Key { Host, Port, User, PasswordFile, CaFile, Node, DiscoveryPrefix };

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

} // namespace

const ServiceCommandLine &bridgeCommandLine()
{
    static const ServiceCommandLine line{
        QStringLiteral("relo-mqtt"),
        QStringLiteral("MQTT"),
        QStringLiteral("RELO_MQTT_PASSWORD"),
        {{QStringLiteral("--host"), QStringLiteral("Host")},
         {QStringLiteral("--port"), QStringLiteral("Port")},
         {QStringLiteral("--user"), QStringLiteral("User")},
         {QStringLiteral("--password-file"), QStringLiteral("PasswordFile"), ServiceOption::Path},
         {QStringLiteral("--cafile"), QStringLiteral("CaFile"), ServiceOption::Path},
         {QStringLiteral("--node"), QStringLiteral("Node")},
         {QStringLiteral("--discovery-prefix"), QStringLiteral("DiscoveryPrefix")}}};
    return line;
}

ParsedOptions parseBridgeOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env)
{
    const ServiceArguments read =
        readServiceArguments(bridgeCommandLine(), args, iniValues, iniFolder, env);
    if (read.action != ServiceArguments::Run)
        return ParsedOptions::refused(read);
    ParsedOptions parsed;
    BridgeOptions &options = parsed.options;
    if (!read.value(Host).isEmpty())
        options.host = read.value(Host);
    if (!read.value(Port).isEmpty()) {
        bool ok = false;
        options.port = read.value(Port).toInt(&ok);
        if (!ok || options.port < 1 || options.port > 65535)
            return ParsedOptions::refused(
                ServiceArguments::Misuse,
                QStringLiteral("Geçersiz port: \"%1\" (1-65535 olmalı)").arg(read.value(Port)));
    }
    options.user = read.value(User);
    options.caFile = read.value(CaFile);
    if (!read.value(Node).isEmpty())
        options.node = read.value(Node);
    if (!read.value(DiscoveryPrefix).isEmpty())
        options.discoveryPrefix = read.value(DiscoveryPrefix);
    if (!validNode(options.node))
        return ParsedOptions::refused(
            ServiceArguments::Misuse,
            QStringLiteral("Geçersiz düğüm adı: \"%1\" (yalnız harf, rakam, _ ve -)")
                .arg(options.node));
    if (!validPrefix(options.discoveryPrefix))
        return ParsedOptions::refused(
            ServiceArguments::Misuse,
            QStringLiteral("Geçersiz keşif öneki: \"%1\"").arg(options.discoveryPrefix));

    options.password = read.password;
    if (options.password && options.user.isEmpty())
        return ParsedOptions::refused(
            ServiceArguments::Misuse,
            QStringLiteral("Parola için kullanıcı adı da gerekir (--user)"));
    if (!options.caFile.isEmpty() && !QFileInfo(options.caFile).isReadable())
        return ParsedOptions::refused(
            ServiceArguments::Failed,
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
