#pragma once

#include <QString>

namespace relo::platform {

// Qt picks the window system it draws on (its platform) when the application
// object is made: the one QT_QPA_PLATFORM names, or else the session's. These
// steer that pick for programs that must also work without a screen, and are
// called before the application object is made.

// When the session names no display (a service, cron, SSH) and the platform is
// left to Qt, picks Qt's offscreen platform, where windows work but reach no
// screen. Returns whether it did.
bool chooseOffscreenWithoutDisplay();

// When the platform is left to Qt and the session names no Wayland display,
// makes Qt try the X display and fall back to its offscreen platform when that
// cannot be reached (a display left behind in cron, a service or an SSH
// session), where Qt would otherwise end the program. Returns whether it did.
bool allowOffscreenFallback();

// Takes back the pick made above, so that programs started from here pick for
// themselves.
void forgetPlatformChoice();

// The X display the session names (":5"); empty when it names none.
QString displayName();

} // namespace relo::platform
