#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <optional>

namespace relo {

// How relo-mqtt reaches the broker and names itself there.
struct BridgeOptions
{
    QString host = QStringLiteral("localhost");
    int port = 1883;
    QString user;
    std::optional<QString> password;
    QString caFile; // not empty: TLS
    QString node = QStringLiteral("relo");
    QString discoveryPrefix = QStringLiteral("homeassistant");
};

// The [MQTT] section of ayar.ini may hold the same settings, under these keys.
inline const QString BridgeSection = QStringLiteral("MQTT");
inline const QStringList BridgeKeys{
    QStringLiteral("Host"),           QStringLiteral("Port"),   QStringLiteral("User"),
    QStringLiteral("PasswordFile"),   QStringLiteral("CaFile"), QStringLiteral("Node"),
    QStringLiteral("DiscoveryPrefix")};

struct ParsedOptions
{
    enum Action { Run, Help, Version, Misuse, Failed };
    Action action = Run;
    BridgeOptions options;
    QString error; // Misuse and Failed: one line for standard error
};

// Reads the command line (`args`, without the program's name) over the values of
// the [MQTT] section (`iniValues`, in the order of BridgeKeys; relative paths
// there are taken from `iniFolder`): an option wins over the same key in the
// file. The password comes from --password-file, else RELO_MQTT_PASSWORD in
// `env`, else the file named by PasswordFile; its first line is the password.
// Options take their value as "--host NAME" or "--host=NAME".
ParsedOptions parseBridgeOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env);

// The usage text, in Turkish; `settingsFile` is the ayar.ini in use.
QString bridgeUsage(const QString &settingsFile);

} // namespace relo
