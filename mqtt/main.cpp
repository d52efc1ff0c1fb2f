// relo-mqtt: switches RELO's outputs from Home Assistant or any other MQTT
// system, beside RELOKomut and the panel. Runs without a screen, as a service.

#include "mqtt/bridge.h"
#include "core/consoleline.h"
#include "mqtt/bridgeoptions.h"
#include "mqtt/mqttclient.h"
#include "core/portregistry.h"
#include "link/realserialport.h"
#include "core/servicecore.h"
#include "core/serviceoptions.h"
#include "core/settingsfolder.h"

#include <QCoreApplication>

#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("relo-mqtt"));
    QCoreApplication::setApplicationVersion(relo::Bridge::version());

    // The folder of ayar.ini, RELOKomut's own: beside the program where that is
    // writable, else the user's configuration folder.
    const relo::SettingsChoice settings =
        relo::chooseSettingsFolder(QCoreApplication::applicationDirPath());
    const QString settingsFolder = settings.folder;
    relo::BridgeOptions options;
    if (const std::optional<int> status = relo::startServiceOptions(
            relo::bridgeCommandLine(), relo::parseBridgeOptions, settingsFolder,
            relo::Bridge::version(), relo::bridgeUsage(relo::settingsPath(settingsFolder)),
            &options))
        return *status;
    // Why this account does not share the others' state, once, in the log.
    if (!settings.note.isEmpty())
        relo::printLine(stderr, settings.note);
    if (!relo::ServiceCore::prepareProcess())
        return 1;

    const relo::MqttLibrary library;
    // The program's only serial port; port numbers go through the registry RELO
    // and RELOKomut share.
    const std::unique_ptr<relo::RealSerialPort> port(relo::registeredSerialPort());
    relo::Bridge bridge(options, settingsFolder, port.get());
    QString error;
    if (!bridge.start(&error)) {
        relo::ServiceCore::log(QStringLiteral("MQTT bağlantısı kurulamadı: %1").arg(error));
        return 1;
    }
    QObject::connect(&bridge, &relo::Bridge::stopped, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return QCoreApplication::exec();
}
