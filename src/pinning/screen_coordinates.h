#pragma once

// Turns a window-server rectangle (origin top-left of the primary display, y down) into screen
// coordinates (origin bottom-left of the primary display, y up), as panels are placed.

#include "base/geometry.h"
#include "platform/screens.h"

namespace tovalo {

// Flips y against the primary screen's height, whichever screen the rectangle is on; x, width
// and height stay. Without any screen the rectangle comes back unchanged.
Rect toScreenCoordinates(const Rect& rect, const Screens& screens);

}  // namespace tovalo
