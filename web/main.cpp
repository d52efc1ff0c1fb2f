// relo-web: switches RELO's outputs from a browser (a phone, a tablet on the
// wall) or with one HTTP request from a script, beside RELOKomut, the panel and
// relo-mqtt. Runs without a screen, as a service.

#include "portregistry.h"
#include "realserialport.h"
#include "settingsfile.h"
#include "settingsfolder.h"
#include "stopsignals.h"
#include "weboptions.h"
#include "webserver.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

void printLine(FILE *stream, const QString &line)
{
    std::fputs(line.toUtf8().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("relo-web"));
    QCoreApplication::setApplicationVersion(relo::WebServer::version());

    // The folder of ayar.ini, RELOKomut's own.
    const relo::SettingsChoice settings =
        relo::chooseSettingsFolder(QCoreApplication::applicationDirPath());
    const QString settingsFolder = settings.folder;
    const QString settingsFile = relo::settingsPath(settingsFolder);
    const std::optional<QStringList> iniValues =
        relo::readIniValues(settingsFile, relo::WebSection, relo::WebKeys);
    const relo::ParsedWebOptions parsed = relo::parseWebOptions(
        QCoreApplication::arguments().mid(1), iniValues.value_or(QStringList()), settingsFolder,
        QProcessEnvironment::systemEnvironment());
    switch (parsed.action) {
    case relo::ParsedWebOptions::Help:
        printLine(stdout, relo::webUsage(settingsFile));
        return 0;
    case relo::ParsedWebOptions::Version:
        printLine(stdout, QStringLiteral("relo-web ") + relo::WebServer::version());
        return 0;
    case relo::ParsedWebOptions::Misuse:
        printLine(stderr, parsed.error + QStringLiteral("\nYardım için: relo-web --help"));
        return 2;
    case relo::ParsedWebOptions::Unsafe:
        printLine(stderr, parsed.error);
        return 2;
    case relo::ParsedWebOptions::Failed:
        printLine(stderr, parsed.error);
        return 1;
    case relo::ParsedWebOptions::Run:
        break;
    }
    // Why this account does not share the others' state, once, in the log.
    if (!settings.note.isEmpty())
        printLine(stderr, settings.note);
    if (!iniValues) {
        printLine(stderr, QStringLiteral("ayar.ini okunamadı: %1").arg(settingsFile));
        return 1;
    }
    // A browser that goes away while an answer is written must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    // SIGTERM (systemctl stop), SIGINT (Ctrl+C) and SIGHUP become events of the
    // loop, so that the changes under way finish and every page is told.
    if (!relo::StopSignals::install()) {
        printLine(stderr, QStringLiteral("Sinyaller yakalanamadı"));
        return 1;
    }

    // The program's only serial port; port numbers go through the registry RELO
    // and RELOKomut share.
    const std::unique_ptr<relo::RealSerialPort> port(relo::registeredSerialPort());
    relo::WebServer server(parsed.options, settingsFolder, port.get());
    QString error;
    if (!server.start(&error)) {
        printLine(stderr, QStringLiteral("relo-web başlatılamadı: %1").arg(error));
        return 1;
    }
    relo::StopSignals stopSignals;
    QObject::connect(&stopSignals, &relo::StopSignals::stopRequested, &server,
                     &relo::WebServer::stop);
    QObject::connect(&server, &relo::WebServer::stopped, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return QCoreApplication::exec();
}
