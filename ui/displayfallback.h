#pragma once

#include <QString>

namespace relo {

// A DISPLAY that names no reachable X server (left behind in cron, a service or an
// SSH session) makes Qt abort the program. Called before the QApplication is made,
// armDisplayFallback() lets Qt fall back to its offscreen platform instead, when
// the platform is Qt's own choice (QT_QPA_PLATFORM unset) and no Wayland display
// is named; Qt's notes while the platform starts are kept off standard error.
// Returns whether it did.
bool armDisplayFallback();

// After the QApplication is made: true when the fallback was taken, so the
// windows would reach no screen. Qt's messages go to standard error again.
bool displayUnreachable(bool armed);

// "DISPLAY=:5", or a note that none is set, for messages about the screen.
QString displayDescription();

} // namespace relo
