#include "platform/display.h"

#include <QtGlobal>

namespace relo::platform {

bool chooseOffscreenWithoutDisplay()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

bool allowOffscreenFallback()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
    return true;
}

void forgetPlatformChoice()
{
    qunsetenv("QT_QPA_PLATFORM");
}

QString displayName()
{
    return qEnvironmentVariable("DISPLAY");
}

} // namespace relo::platform
