#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace relo {

// Maps the port numbers the user sees (1 and up) to device paths where no port
// registry does:
//  - RELO_COM<n> in `env`, when set, names the device of port n;
//  - otherwise port n is the n-th of `systemPorts` (device paths as the system
//    reports them, in any order), USB adapters (ttyUSB*) first, then CDC-ACM
//    (ttyACM*), then the rest, each family ordered by number.
// Returns an empty string when port n maps to nothing.
QString devicePathForPort(int portNumber, const QProcessEnvironment &env,
                          const QStringList &systemPorts);

// The environment variable that names the device of port n: "RELO_COM<n>".
QString portEnvironmentVariable(int portNumber);

// `systemPorts` in the order described above.
QStringList orderedSystemPorts(QStringList systemPorts);

// The serial devices the system reports now, as full paths
// (platform::serialDevices()).
QStringList systemSerialPorts();

} // namespace relo
