#pragma once

// One display of the simulated desktop. Its frame is a window-server rectangle (top-left origin
// of the primary display, points); pixels are points times the scale.

#include "base/geometry.h"
#include "capture/capture_types.h"

namespace tovalo::sim {

struct SimDisplay {
    DisplayID displayID = 0;
    Rect frame;
    double scale = 1.0;

    friend bool operator==(const SimDisplay&, const SimDisplay&) = default;
};

}  // namespace tovalo::sim
