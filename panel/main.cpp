// RELO, the control panel: pick a serial port, confirm, then switch the eight
// remote outputs.

#include "panelwindow.h"
#include "portregistry.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("RELO"));
    QApplication::setDesktopFileName(QStringLiteral("relo"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/relo/chip.png")));

    relo::PanelWindow window(relo::registeredSerialPort());
    window.show();
    return app.exec();
}
