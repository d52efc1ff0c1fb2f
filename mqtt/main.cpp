// relo-mqtt: switches RELO's outputs from Home Assistant or any other MQTT
// system, beside RELOKomut and the panel. Runs without a screen, as a service.

#include "bridge.h"
#include "bridgeoptions.h"
#include "consoleline.h"
#include "mqttclient.h"
#include "portregistry.h"
#include "realserialport.h"
#include "settingsfile.h"
#include "settingsfolder.h"
#include "sockets.h"
#include "stopsignals.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

using relo::printLine;

} // namespace

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
    const QString settingsFile = relo::settingsPath(settingsFolder);
    const std::optional<QStringList> iniValues =
        relo::readIniValues(settingsFile, relo::BridgeSection, relo::BridgeKeys);
    const relo::ParsedOptions parsed = relo::parseBridgeOptions(
        QCoreApplication::arguments().mid(1), iniValues.value_or(QStringList()), settingsFolder,
        QProcessEnvironment::systemEnvironment());
    switch (parsed.action) {
    case relo::ParsedOptions::Help:
        printLine(stdout, relo::bridgeUsage(settingsFile));
        return 0;
    case relo::ParsedOptions::Version:
        printLine(stdout, QStringLiteral("relo-mqtt ") + relo::Bridge::version());
        return 0;
    case relo::ParsedOptions::Misuse:
        printLine(stderr, parsed.error + QStringLiteral("\nYardım için: relo-mqtt --help"));
        return 2;
    case relo::ParsedOptions::Failed:
        printLine(stderr, parsed.error);
        return 1;
    case relo::ParsedOptions::Run:
        break;
    }
    // Why this account does not share the others' state, once, in the log.
    if (!settings.note.isEmpty())
        printLine(stderr, settings.note);
    if (!iniValues) {
        printLine(stderr, QStringLiteral("ayar.ini okunamadı: %1").arg(settingsFile));
        return 1;
    }
    // A broker that goes away while something is written to it must not end
    // the program.
    relo::platform::survivePeerClose();
    // SIGTERM (systemctl stop), SIGINT (Ctrl+C) and SIGHUP become events of the
    // loop, so the bridge can say "offline" and leave cleanly.
    if (!relo::StopSignals::install()) {
        printLine(stderr, QStringLiteral("Sinyaller yakalanamadı"));
        return 1;
    }

    const relo::MqttLibrary library;
    // The program's only serial port; port numbers go through the registry RELO
    // and RELOKomut share.
    const std::unique_ptr<relo::RealSerialPort> port(relo::registeredSerialPort());
    relo::Bridge bridge(parsed.options, settingsFolder, port.get());
    QString error;
    if (!bridge.start(&error)) {
        printLine(stderr, QStringLiteral("MQTT bağlantısı kurulamadı: %1").arg(error));
        return 1;
    }
    relo::StopSignals stopSignals;
    QObject::connect(&stopSignals, &relo::StopSignals::stopRequested, &bridge, &relo::Bridge::stop);
    QObject::connect(&bridge, &relo::Bridge::stopped, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return QCoreApplication::exec();
}
