// RELO, the control panel: pick a serial port, confirm, then switch the eight
// remote outputs.

#include "core/consoleline.h"
#include "ui/displayfallback.h"
#include "panel/panelwindow.h"
#include "core/portregistry.h"
#include "platform/stopsignals.h"

#include <QApplication>
#include <QIcon>

#include <cstring>

namespace {

const char *const Usage = "Kullanım: RELO [--help | --version]\n"
                          "\n"
                          "RELO kontrol paneli: listeden bir seri port seçip bağlanın, sekiz uzak\n"
                          "çıkışı anahtarlarına tıklayarak açıp kapatın. Masaüstü oturumu ister.\n"
                          "Port n'nin aygıtı RELO_COM<n> ortam değişkeniyle seçilebilir.\n"
                          "\n"
                          "  --help     bu yardımı gösterir\n"
                          "  --version  sürümü gösterir";

using relo::printLine;

} // namespace

int main(int argc, char *argv[])
{
    // Answered before any screen is needed.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printLine(stdout, QString::fromUtf8(Usage));
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            printLine(stdout, QStringLiteral("RELO ") + relo::PanelWindow::version());
            return 0;
        }
    }
    // Before anything slow, so that a request to stop during start-up waits for
    // the event loop. Should it fail, the signals end RELO as before.
    relo::platform::StopSignals::install();
    const bool armed = relo::armDisplayFallback();
    QApplication app(argc, argv);
    if (relo::displayUnreachable(armed)) {
        printLine(stderr,
                  QStringLiteral("RELO bir masaüstü oturumu ister: ekrana bağlanılamadı (%1).")
                      .arg(relo::displayDescription()));
        return 1;
    }
    QApplication::setApplicationName(QStringLiteral("RELO"));
    QApplication::setApplicationVersion(relo::PanelWindow::version());
    QApplication::setDesktopFileName(QStringLiteral("relo"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/relo/chip.png")));

    relo::PanelWindow window(relo::registeredSerialPort());
    window.watchDevices(relo::PortRegistry::defaultSerialFolder());
    // SIGTERM, SIGINT, SIGHUP: the port is let go (no lock file left behind) and
    // every event loop ends, a message box's included.
    relo::platform::StopSignals stopSignals;
    QObject::connect(&stopSignals, &relo::platform::StopSignals::stopRequested, &window,
                     [&window](int n) {
                         window.shutDown();
                         QCoreApplication::exit(relo::platform::StopSignals::exitStatus(n));
                     });
    window.show();
    return app.exec();
}
