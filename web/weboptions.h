#pragma once

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

// The [WEB] section of ayar.ini may hold the same settings, under these keys.
// AllowHost takes several names, separated by blanks or commas.
inline const QString WebSection = QStringLiteral("WEB");
inline const QStringList WebKeys{QStringLiteral("Listen"), QStringLiteral("PasswordFile"),
                                 QStringLiteral("Cert"), QStringLiteral("Key"),
                                 QStringLiteral("AllowHost")};

struct ParsedWebOptions
{
    // Unsafe: a network address without a password; the error says how to set one.
    enum Action { Run, Help, Version, Misuse, Unsafe, Failed };
    Action action = Run;
    WebOptions options;
    QString error; // Misuse, Unsafe and Failed: one line for standard error
};

// Reads the command line (`args`, without the program's name) over the values of
// the [WEB] section (`iniValues`, in the order of WebKeys; relative paths there
// are taken from `iniFolder`): an option wins over the same key in the file,
// and --allow-host names replace those of the file. The password comes from
// --password-file, else RELO_WEB_PASSWORD in `env`, else the file named by
// PasswordFile; its first line is the password. Without a password only a
// loopback address is accepted.
ParsedWebOptions parseWebOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env);

// The usage text, in Turkish; `settingsFile` is the ayar.ini in use.
QString webUsage(const QString &settingsFile);

} // namespace relo
