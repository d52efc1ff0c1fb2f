#pragma once

#include "core/serviceoptions.h"

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

// The command line and the [MQTT] section of ayar.ini: --host (Host), --port
// (Port), --user (User), --password-file (PasswordFile), --cafile (CaFile),
// --node (Node), --discovery-prefix (DiscoveryPrefix); the password also from
// RELO_MQTT_PASSWORD.
const ServiceCommandLine &bridgeCommandLine();

using ParsedOptions = ParsedService<BridgeOptions>;

// Reads the command line (`args`, without the program's name) over the values of
// the [MQTT] section (`iniValues`, in the order of bridgeCommandLine().keys()),
// and checks the port, the node and the prefix.
ParsedOptions parseBridgeOptions(const QStringList &args, const QStringList &iniValues,
                                 const QString &iniFolder, const QProcessEnvironment &env);

// The usage text, in Turkish; `settingsFile` is the ayar.ini in use.
QString bridgeUsage(const QString &settingsFile);

} // namespace relo
