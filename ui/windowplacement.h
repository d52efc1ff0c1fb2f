#pragma once

class QWidget;

namespace relo {

// Places the top-level `window` so that what the user sees of it, the window
// manager's title bar and borders included, sits in the middle of its screen's
// available area. Call it before the window is shown. Until the window manager
// has framed the window its frame can only be estimated (from a window of this
// program already on screen, else none); once the real frame is known the window
// is moved once more, unless it has been placed elsewhere meanwhile.
void centreOnScreen(QWidget *window);

} // namespace relo
