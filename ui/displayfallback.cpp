#include "ui/displayfallback.h"

#include "platform/display.h"

#include <QGuiApplication>

namespace relo {

namespace {

QtMessageHandler previousHandler = nullptr;

// While the platform starts, Qt notes the unreachable display and, from cron or
// a service, the missing runtime folder; the program says what matters in one
// line of its own.
void dropPlatformNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if ((type == QtCriticalMsg || type == QtFatalMsg) && previousHandler)
        previousHandler(type, context, message);
}

} // namespace

bool armDisplayFallback()
{
    if (!platform::allowOffscreenFallback())
        return false;
    previousHandler = qInstallMessageHandler(dropPlatformNotes);
    return true;
}

bool displayUnreachable(bool armed)
{
    if (!armed)
        return false;
    qInstallMessageHandler(previousHandler);
    // Child processes choose for themselves.
    platform::forgetPlatformChoice();
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

QString displayDescription()
{
    const QString display = platform::displayName();
    return display.isEmpty() ? QStringLiteral("DISPLAY tanımlı değil")
                             : QStringLiteral("DISPLAY=%1").arg(display);
}

} // namespace relo
