#pragma once

#include "core/serviceoptions.h"

#include <QHostAddress>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace relo {

// Where relo-web listens and who may use it.
struct WebOptions
{
    QHostAddress address = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 8080;
    std::optional<QString> password; // never empty when set
    QString certFile;                // with keyFile: HTTPS
    QString keyFile;
    QStringList allowedHosts; // host names the Host header may carry, lower case

    // "127.0.0.1:8080", "[::1]:8080"
    QString listenText() const;
};

// The command line and the [WEB] section of ayar.ini: --listen (Listen),
// --password-file (PasswordFile), --cert (Cert), --key (Key), --allow-host
// (AllowHost, several names separated by blanks or commas); the password also
// from RELO_WEB_PASSWORD.
const ServiceCommandLine &webCommandLine();

// Unsafe: a network address without a password; the error says how to set one.
using ParsedWebOptions = ParsedService<WebOptions>;

// Reads the command line (`args`, without the program's name) over the values of
// the [WEB] section (`iniValues`, in the order of webCommandLine().keys()).
// Without a password only a loopback address is accepted.
ParsedWebOptions parseWebOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env);

// The usage text, in Turkish; `settingsFile` is the ayar.ini in use.
QString webUsage(const QString &settingsFile);

} // namespace relo
