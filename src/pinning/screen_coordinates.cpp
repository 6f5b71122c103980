#include "pinning/screen_coordinates.h"

namespace tovalo {

Rect toScreenCoordinates(const Rect& rect, const Screens& screens) {
    // Both spaces share the primary screen's corner as their reference, so the flip uses its
    // height for every screen. Flipping against the screen holding the rectangle instead would
    // misplace windows on a screen whose top edge is not level with the primary's.
    const auto all = screens.screens();
    if (all.empty()) {
        return rect;
    }
    const Rect& primary = all.front().frame;
    return Rect(rect.minX(), primary.maxY() - rect.minY() - rect.height(), rect.width(),
                rect.height());
}

}  // namespace tovalo
