// RELOKomut: switches one channel (RELOKomut 03-1) or, started without a
// command, lets a person choose the serial port.

#include "core/commandrun.h"
#include "core/consoleline.h"
#include "platform/display.h"
#include "ui/displayfallback.h"
#include "command/komutwindow.h"
#include "core/porterror.h"
#include "link/portmap.h"
#include "core/portregistry.h"
#include "link/portscan.h"
#include "link/realserialport.h"
#include "core/settingsfile.h"
#include "core/settingsfolder.h"
#include "platform/stopsignals.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

enum class Action { Command, Help, Version, ListPorts, SetPort, Misuse };

struct Invocation
{
    Action action = Action::Command;
    QString value; // --set-port: the port number as given
};

// Options stand alone. Every other argument, even one starting with a single
// dash, is part of the command text.
Invocation parseArguments(const QStringList &args)
{
    const auto isOption = [](const QString &arg) {
        return arg.startsWith(QLatin1String("--")) || arg == QLatin1String("-h");
    };
    if (std::none_of(args.begin(), args.end(), isOption))
        return {};
    const QString first = args.value(0);
    if (args.size() == 1) {
        if (first == QLatin1String("--help") || first == QLatin1String("-h"))
            return {Action::Help, {}};
        if (first == QLatin1String("--version"))
            return {Action::Version, {}};
        if (first == QLatin1String("--list-ports"))
            return {Action::ListPorts, {}};
        if (first.startsWith(QLatin1String("--set-port=")))
            return {Action::SetPort, first.mid(11)};
    }
    if (args.size() == 2 && first == QLatin1String("--set-port"))
        return {Action::SetPort, args.at(1)};
    return {Action::Misuse, {}};
}

using relo::printLine;

QString usage()
{
    return QStringLiteral(
               "Kullanım: RELOKomut KOMUT\n"
               "         RELOKomut [--list-ports | --set-port N | --help | --version]\n"
               "\n"
               "KOMUT iki haneli çıkış numarası, tire ve durum hanesidir:\n"
               "03-1 çıkış 3'ü açar, 05-0 çıkış 5'i kapatır.\n"
               "Komutsuz başlatılınca port seçme penceresi açılır (ekran gerekir).\n"
               "\n"
               "  --list-ports   açılabilen portları listeler: \"Com - n\", sekme, bağdaştırıcı\n"
               "  --set-port N   N numaralı portu kaydeder (1-10); yeni portta PortData 0 olur\n"
               "  --help         bu yardımı gösterir\n"
               "  --version      sürümü gösterir\n"
               "\n"
               "Çıkış durumu: 0 gönderildi ve kaydedildi, 1 port açılamadı,\n"
               "2 hatalı komut veya kullanım, 3 ayar.ini yazılamadı.\n"
               "Ayar dosyası: %1\n"
               "Port numaraları bağdaştırıcıda kalır: %2\n"
               "Port n'nin aygıtı RELO_COM<n> ortam değişkeniyle seçilebilir.")
        .arg(relo::settingsPath(relo::settingsFolder(QCoreApplication::applicationDirPath())),
             relo::PortRegistry::defaultFile());
}

// The ports that open now on standard output; a line on standard error for each
// device that is there but did not open.
int listPorts()
{
    relo::RealSerialPort port;
    port.setResolver(relo::registryResolver());
    bool found = false;
    for (const relo::PortProbe &probe : relo::scanPorts(port)) {
        if (probe.error == relo::SerialPort::OpenError::None)
            printLine(stdout,
                      relo::portName(probe.number) + QLatin1Char('\t') + probe.device.adapter);
        else if (probe.error != relo::SerialPort::OpenError::Missing)
            printLine(stderr, relo::portErrorLine(probe.number, probe.error, probe.device));
        found = found || probe.error == relo::SerialPort::OpenError::None;
    }
    if (!found)
        printLine(stderr, QStringLiteral("Açılabilen port yok"));
    return 0;
}

// What "Kaydet" does: the port, and the mask cleared when the port changes.
int setPort(const QString &value)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < relo::FirstScannedPort || number > relo::LastScannedPort) {
        printLine(stderr, QStringLiteral("Geçersiz port numarası: \"%1\" (%2-%3 olmalı)")
                              .arg(value)
                              .arg(relo::FirstScannedPort)
                              .arg(relo::LastScannedPort));
        return int(relo::ExitStatus::Rejected);
    }
    const relo::SettingsChoice settings =
        relo::chooseSettingsFolder(QCoreApplication::applicationDirPath());
    const QString &folder = settings.folder;
    if (!settings.note.isEmpty())
        printLine(stderr, settings.note);
    if (!relo::savePortChoice(folder, number)) {
        printLine(stderr, relo::settingsSaveError(folder));
        return int(relo::ExitStatus::NotSaved);
    }
    // Saved as asked; but a number no adapter holds yet is most likely a slip.
    if (!qEnvironmentVariableIsSet(qPrintable(relo::portEnvironmentVariable(number))) &&
        relo::PortRegistry().device(number).adapter.isEmpty())
        printLine(stderr, QStringLiteral("Uyarı: %1 henüz hiçbir bağdaştırıcıya verilmedi "
                                         "(takılı olanlar: RELOKomut --list-ports)")
                              .arg(relo::portName(number)));
    return 0;
}

int runOption(const Invocation &invocation)
{
    switch (invocation.action) {
    case Action::Help:
        printLine(stdout, usage());
        return 0;
    case Action::Version:
        printLine(stdout, QStringLiteral("RELOKomut ") + relo::KomutWindow::version());
        return 0;
    case Action::ListPorts:
        return listPorts();
    case Action::SetPort:
        return setPort(invocation.value);
    case Action::Misuse:
    case Action::Command:
        break;
    }
    printLine(stderr, QStringLiteral("Hatalı kullanım: %1\nYardım için: RELOKomut --help")
                          .arg(QCoreApplication::arguments().mid(1).join(QLatin1Char(' '))));
    return int(relo::ExitStatus::Rejected);
}

void keepOnlySeriousMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        printLine(stderr, message);
}

// With no screen, standard error belongs to the program's own error lines, which
// the caller reads; Qt's notes about the missing screen ("This plugin does not
// support raise()") and the like would only garble them.
void quietenHeadlessQt()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        qInstallMessageHandler(keepOnlySeriousMessages);
}

bool isHeadless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Invocation invocation = parseArguments(args);
    if (invocation.action != Action::Command) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("RELOKomut"));
        return runOption(invocation);
    }

    // Before the application object, so that a request to stop during start-up
    // waits for the event loop. Should it fail, the signals end RELOKomut as before.
    relo::platform::StopSignals::install();
    // Started from a service, over SSH or from cron there is no display: the
    // window then lives on Qt's offscreen platform, so a command still works.
    relo::platform::chooseOffscreenWithoutDisplay();
    quietenHeadlessQt();
    const bool armed = relo::armDisplayFallback();
    QApplication app(argc, argv);
    const bool unreachable = relo::displayUnreachable(armed);
    QCoreApplication::setApplicationName(QStringLiteral("RELOKomut"));
    QCoreApplication::setApplicationVersion(relo::KomutWindow::version());
    // The menu entry the taskbar finds the window by.
    QGuiApplication::setDesktopFileName(QStringLiteral("relokomut"));
    // Qt's own options (-platform, -style ...) are gone from arguments() by now.
    const QString command = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));

    if (command.isEmpty() && unreachable) {
        printLine(stderr, QStringLiteral("RELOKomut port ayarı bir masaüstü oturumu ister: ekrana "
                                         "bağlanılamadı (%1).")
                              .arg(relo::displayDescription()));
        return int(relo::ExitStatus::PortFailed);
    }
    if (command.isEmpty() && isHeadless()) {
        // Choosing a port needs a person and a screen.
        printLine(stderr, usage());
        return int(relo::ExitStatus::Rejected);
    }
    // A command runs without the screen it could not reach, and quietly.
    if (unreachable)
        qInstallMessageHandler(keepOnlySeriousMessages);

    const relo::SettingsChoice settings =
        relo::chooseSettingsFolder(QCoreApplication::applicationDirPath());
    // Why this account does not share the others' state: once, before anything
    // else is said.
    if (!settings.note.isEmpty())
        printLine(stderr, settings.note);
    relo::KomutWindow window(command, settings.folder);
    if (window.status() == relo::ExitStatus::Rejected && isHeadless()) {
        // No one could close the window.
        printLine(stderr, window.errorText());
        return int(relo::ExitStatus::Rejected);
    }
    // SIGTERM, SIGINT, SIGHUP before the window is done: closing it lets go of
    // the port (the frame being sent finishes, RTS drops, the port and its lock
    // file go), and every event loop ends.
    int stoppedBy = 0;
    relo::platform::StopSignals stopSignals;
    QObject::connect(&stopSignals, &relo::platform::StopSignals::stopRequested, &window,
                     [&](int n) {
                         if (stoppedBy != 0 || !window.isVisible())
                             return; // ending already
                         stoppedBy = n;
                         window.close();
                         QCoreApplication::exit(relo::platform::StopSignals::exitStatus(n));
                     });
    window.show();
    QApplication::exec();
    if (stoppedBy != 0) {
        printLine(stderr, QStringLiteral("RELOKomut durduruldu (%1)%2")
                              .arg(relo::platform::StopSignals::name(stoppedBy),
                                   window.isRunMode() ? QStringLiteral(": komut tamamlanmadı")
                                                      : QString()));
        return relo::platform::StopSignals::exitStatus(stoppedBy);
    }

    const relo::ExitStatus status = window.status();
    if (window.isRunMode() &&
        (status == relo::ExitStatus::Done || status == relo::ExitStatus::NotSaved))
        printLine(stdout, window.statusText());
    if (!window.errorText().isEmpty())
        printLine(stderr, window.errorText());
    return int(status);
}
