// relo-web: switches RELO's outputs from a browser (a phone, a tablet on the
// wall) or with one HTTP request from a script, beside RELOKomut, the panel and
// relo-mqtt. Runs without a screen, as a service.

#include "core/portregistry.h"
#include "core/consoleline.h"
#include "link/realserialport.h"
#include "core/servicecore.h"
#include "core/serviceoptions.h"
#include "core/settingsfolder.h"
#include "web/weboptions.h"
#include "web/webserver.h"

#include <QCoreApplication>

#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("relo-web"));
    QCoreApplication::setApplicationVersion(relo::WebServer::version());

    // The folder of ayar.ini, RELOKomut's own.
    const relo::SettingsChoice settings =
        relo::chooseSettingsFolder(QCoreApplication::applicationDirPath());
    const QString settingsFolder = settings.folder;
    relo::WebOptions options;
    if (const std::optional<int> status =
            relo::startServiceOptions(relo::webCommandLine(), relo::parseWebOptions, settingsFolder,
                                      relo::WebServer::version(),
                                      relo::webUsage(relo::settingsPath(settingsFolder)), &options))
        return *status;
    // Why this account does not share the others' state, once, in the log.
    if (!settings.note.isEmpty())
        relo::printLine(stderr, settings.note);
    if (!relo::ServiceCore::prepareProcess())
        return 1;

    // The program's only serial port; port numbers go through the registry RELO
    // and RELOKomut share.
    const std::unique_ptr<relo::RealSerialPort> port(relo::registeredSerialPort());
    relo::WebServer server(options, settingsFolder, port.get());
    QString error;
    if (!server.start(&error)) {
        relo::ServiceCore::log(QStringLiteral("relo-web başlatılamadı: %1").arg(error));
        return 1;
    }
    QObject::connect(&server, &relo::WebServer::stopped, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return QCoreApplication::exec();
}
