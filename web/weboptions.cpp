#include "web/weboptions.h"

#include "core/consoleline.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace relo {

namespace {

// In the order of webCommandLine().options.
enum Key { Listen, PasswordFile, Cert, KeyFile, AllowHost };

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

const ServiceCommandLine &webCommandLine()
{
    static const ServiceCommandLine line{
        QStringLiteral("relo-web"),
        QStringLiteral("WEB"),
        QStringLiteral("RELO_WEB_PASSWORD"),
        {{QStringLiteral("--listen"), QStringLiteral("Listen")},
         {QStringLiteral("--password-file"), QStringLiteral("PasswordFile"), ServiceOption::Path},
         {QStringLiteral("--cert"), QStringLiteral("Cert"), ServiceOption::Path},
         {QStringLiteral("--key"), QStringLiteral("Key"), ServiceOption::Path},
         {QStringLiteral("--allow-host"), QStringLiteral("AllowHost"), ServiceOption::List}}};
    return line;
}

ParsedWebOptions parseWebOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env)
{
    const ServiceArguments read =
        readServiceArguments(webCommandLine(), args, iniValues, iniFolder, env);
    if (read.action != ServiceArguments::Run)
        return ParsedWebOptions::refused(read);

    ParsedWebOptions parsed;
    WebOptions &options = parsed.options;
    if (!read.value(Listen).isEmpty() &&
        !parseListen(read.value(Listen), &options.address, &options.port))
        return ParsedWebOptions::refused(
            ServiceArguments::Misuse,
            QStringLiteral("Geçersiz dinleme adresi: \"%1\" (ADRES:PORT olmalı, "
                           "örneğin 0.0.0.0:8080)")
                .arg(shownText(read.value(Listen).toUtf8())));
    for (const QString &host : read.values.value(AllowHost)) {
        const QString name = host.toLower();
        if (!validHostName(name))
            return ParsedWebOptions::refused(
                ServiceArguments::Misuse,
                QStringLiteral("Geçersiz ad: \"%1\"").arg(shownText(host.toUtf8())));
        options.allowedHosts << name;
    }
    options.certFile = read.value(Cert);
    options.keyFile = read.value(KeyFile);
    if (options.certFile.isEmpty() != options.keyFile.isEmpty())
        return ParsedWebOptions::refused(
            ServiceArguments::Misuse,
            QStringLiteral("HTTPS için --cert ve --key birlikte verilir"));

    options.password = read.password;
    if (options.password && options.password->isEmpty())
        return ParsedWebOptions::refused(ServiceArguments::Misuse,
                                         QStringLiteral("Parola boş olamaz"));
    // As ssh does with keys: a password that every account of the machine may
    // read protects nothing. The file's group may read it (the service's).
    if (!read.passwordFile.isEmpty() &&
        QFileInfo(read.passwordFile).permissions().testFlag(QFileDevice::ReadOther))
        return ParsedWebOptions::refused(
            ServiceArguments::Unsafe,
            QStringLiteral("Parola dosyasını herkes okuyabilir: %1 (yalnız sahibi okusun: "
                           "chmod 600 %1)")
                .arg(read.passwordFile));
    if (!options.password && !options.address.isLoopback())
        return ParsedWebOptions::refused(
            ServiceArguments::Unsafe,
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
