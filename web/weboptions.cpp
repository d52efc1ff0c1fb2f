#include "weboptions.h"

#include "consoleline.h"
#include "serviceutil.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace relo {

namespace {

// In the order of WebKeys.
enum Key { Listen, PasswordFile, Cert, KeyFile, AllowHost, KeyCount };
const QStringList OptionNames{QStringLiteral("--listen"), QStringLiteral("--password-file"),
                              QStringLiteral("--cert"), QStringLiteral("--key"),
                              QStringLiteral("--allow-host")};
const QString PasswordVariable = QStringLiteral("RELO_WEB_PASSWORD");

ParsedWebOptions refused(ParsedWebOptions::Action action, const QString &error)
{
    ParsedWebOptions parsed;
    parsed.action = action;
    parsed.error = error;
    return parsed;
}

// "ADDRESS:PORT" with an IP address, "localhost", or an IPv6 address in brackets;
// port 0 takes any free one (the log tells which).
bool parseListen(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = int(text.lastIndexOf(u':'));
    if (colon < 1)
        return false;
    QString host = text.left(colon);
    bool ok = false;
    const int number = text.mid(colon + 1).toInt(&ok);
    if (!ok || number < 0 || number > 65535)
        return false;
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return false;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    if (!address->setAddress(host))
        return false;
    *port = quint16(number);
    return true;
}

bool validHostName(const QString &name)
{
    static const QRegularExpression allowed(QStringLiteral("^[a-z0-9.-]{1,253}$"));
    return allowed.match(name).hasMatch();
}

} // namespace

QString WebOptions::listenText() const
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + address.toString() + u']'
                             : address.toString();
    return host + u':' + QString::number(port);
}

ParsedWebOptions parseWebOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env)
{
    QStringList values(KeyCount);
    for (int key = 0; key < KeyCount; ++key)
        values[key] = iniValues.value(key).trimmed();
    for (const int key : {PasswordFile, Cert, KeyFile}) {
        if (!values[key].isEmpty())
            values[key] = QDir(iniFolder).absoluteFilePath(values[key]);
    }
    QStringList hosts =
        values[AllowHost].split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);

    bool passwordFileOption = false;
    bool hostOption = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h"))
            return refused(ParsedWebOptions::Help, {});
        if (arg == QLatin1String("--version"))
            return refused(ParsedWebOptions::Version, {});
        // Only the name is ever repeated back: the value may be a secret.
        const QString name = arg.section(u'=', 0, 0);
        const int key = int(OptionNames.indexOf(name));
        if (name == QLatin1String("--password"))
            return refused(ParsedWebOptions::Misuse,
                           QStringLiteral("Parola komut satırında verilmez: --password-file "
                                          "veya RELO_WEB_PASSWORD kullanın"));
        if (key < 0)
            return refused(
                ParsedWebOptions::Misuse,
                name.startsWith(u'-')
                    ? QStringLiteral("Bilinmeyen seçenek: %1").arg(shownText(name.toUtf8()))
                    : QStringLiteral("Beklenmeyen bağımsız değişken: %1")
                          .arg(shownText(name.toUtf8())));
        QString value;
        if (arg.contains(u'='))
            value = arg.section(u'=', 1);
        else if (i + 1 < args.size())
            value = args.at(++i);
        else
            return refused(ParsedWebOptions::Misuse,
                           QStringLiteral("%1 bir değer ister").arg(name));
        if (key == AllowHost) {
            if (!hostOption)
                hosts.clear();
            hostOption = true;
            hosts << value;
        } else {
            values[key] = value;
        }
        passwordFileOption = passwordFileOption || key == PasswordFile;
    }

    ParsedWebOptions parsed;
    WebOptions &options = parsed.options;
    if (!values[Listen].isEmpty() && !parseListen(values[Listen], &options.address, &options.port))
        return refused(ParsedWebOptions::Misuse,
                       QStringLiteral("Geçersiz dinleme adresi: \"%1\" (ADRES:PORT olmalı, "
                                      "örneğin 0.0.0.0:8080)")
                           .arg(shownText(values[Listen].toUtf8())));
    for (const QString &host : std::as_const(hosts)) {
        const QString name = host.toLower();
        if (!validHostName(name))
            return refused(ParsedWebOptions::Misuse,
                           QStringLiteral("Geçersiz ad: \"%1\"").arg(shownText(host.toUtf8())));
        options.allowedHosts << name;
    }
    options.certFile = values[Cert];
    options.keyFile = values[KeyFile];
    if (options.certFile.isEmpty() != options.keyFile.isEmpty())
        return refused(ParsedWebOptions::Misuse,
                       QStringLiteral("HTTPS için --cert ve --key birlikte verilir"));

    const QString fromEnvironment = env.value(PasswordVariable);
    if (passwordFileOption || (fromEnvironment.isEmpty() && !values[PasswordFile].isEmpty())) {
        options.password = readFirstLine(values[PasswordFile]);
        if (!options.password)
            return refused(
                ParsedWebOptions::Failed,
                QStringLiteral("Parola dosyası okunamadı: %1").arg(values[PasswordFile]));
    } else if (!fromEnvironment.isEmpty()) {
        options.password = fromEnvironment;
    }
    if (options.password && options.password->isEmpty())
        return refused(ParsedWebOptions::Misuse, QStringLiteral("Parola boş olamaz"));
    if (!options.password && !options.address.isLoopback())
        return refused(ParsedWebOptions::Unsafe,
                       QStringLiteral("%1 adresinde parolasız çalışılmaz: parolayı bir dosyanın "
                                      "ilk satırına yazıp --password-file DOSYA ile verin (ya da "
                                      "RELO_WEB_PASSWORD ortam değişkeniyle)")
                           .arg(options.listenText()));
    return parsed;
}

QString webUsage(const QString &settingsFile)
{
    return QStringLiteral(
               "Kullanım: relo-web [SEÇENEK]...\n"
               "RELO'nun sekiz çıkışını tarayıcıdan (telefon, tablet, bilgisayar) ve bir HTTP\n"
               "API'siyle açıp kapatır.\n"
               "\n"
               "  --listen ADRES:PORT    dinlenecek adres (varsayılan 127.0.0.1:8080;\n"
               "                         her ağ için 0.0.0.0:8080)\n"
               "  --password-file DOSYA  parola bu dosyanın ilk satırındadır\n"
               "                         (ya da RELO_WEB_PASSWORD ortam değişkeninde);\n"
               "                         127.0.0.1 dışında bir adreste gereklidir\n"
               "  --cert DOSYA --key DOSYA  HTTPS: PEM sertifika ve anahtar\n"
               "  --allow-host AD        Host başlığında bu ada da izin verir (tekrarlanabilir)\n"
               "  --help                 bu yardımı gösterir\n"
               "  --version              sürümü gösterir\n"
               "\n"
               "Aynı ayarlar ayar.ini dosyasının [WEB] bölümünde de durabilir (Listen,\n"
               "PasswordFile, Cert, Key, AllowHost); komut satırındaki önce gelir.\n"
               "\n"
               "API: GET /api/state, PUT /api/channels/N (N = 1-8; ON, OFF, 1 veya 0),\n"
               "PUT /api/mask (0-255), GET /api/live (WebSocket). Parola ile:\n"
               "Authorization: Bearer PAROLA.\n"
               "Port ve çıkışlar RELOKomut ile aynı ayar dosyasındadır: %1\n"
               "Çıkış durumu: 0 durduruldu, 1 başlatılamadı, 2 hatalı kullanım.")
        .arg(settingsFile);
}

} // namespace relo
