// RELO, the control panel: pick a serial port, confirm, then switch the eight
// remote outputs.

#include "displayfallback.h"
#include "panelwindow.h"
#include "portregistry.h"
#include "stopsignals.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char *argv[])
{
    // First of all, so that a request to stop during start-up waits for the
    // event loop. Should it fail, the signals end RELO as before.
    relo::StopSignals::install();
    const bool armed = relo::armDisplayFallback();
    QApplication app(argc, argv);
    if (relo::displayUnreachable(armed)) {
        const QString line =
            QStringLiteral("RELO bir masaüstü oturumu ister: ekrana bağlanılamadı (%1).")
                .arg(relo::displayDescription());
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("RELO"));
    QApplication::setDesktopFileName(QStringLiteral("relo"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/relo/chip.png")));

    relo::PanelWindow window(relo::registeredSerialPort());
    window.watchDevices(relo::PortRegistry::defaultSerialFolder());
    // SIGTERM, SIGINT, SIGHUP: the port is let go (no lock file left behind) and
    // every event loop ends, a message box's included.
    relo::StopSignals stopSignals;
    QObject::connect(&stopSignals, &relo::StopSignals::stopRequested, &window, [&window](int n) {
        window.shutDown();
        QCoreApplication::exit(relo::StopSignals::exitStatus(n));
    });
    window.show();
    return app.exec();
}
