// RELO, the control panel: pick a serial port, confirm, then switch the eight
// remote outputs.

#include "displayfallback.h"
#include "panelwindow.h"
#include "portregistry.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char *argv[])
{
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
    window.show();
    return app.exec();
}
