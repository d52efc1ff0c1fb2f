#include "displayfallback.h"

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
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) && !defined(Q_OS_ANDROID)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
    previousHandler = qInstallMessageHandler(dropPlatformNotes);
    return true;
#else
    return false;
#endif
}

bool displayUnreachable(bool armed)
{
    if (!armed)
        return false;
    qInstallMessageHandler(previousHandler);
    // Child processes choose for themselves.
    qunsetenv("QT_QPA_PLATFORM");
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

QString displayDescription()
{
    const QString display = qEnvironmentVariable("DISPLAY");
    return display.isEmpty() ? QStringLiteral("DISPLAY tanımlı değil")
                             : QStringLiteral("DISPLAY=%1").arg(display);
}

} // namespace relo
