#pragma once

// Port: the displays as the interface sees them. Screen frames use the bottom-left origin of the
// primary display, y growing upwards, in points (the backend converts).

#include <optional>
#include <vector>

#include "base/geometry.h"
#include "capture/capture_types.h"

namespace tovalo {

struct Screen {
    DisplayID displayID = 0;
    Rect frame;
    Rect visibleFrame;
    double backingScaleFactor = 1.0;

    friend bool operator==(const Screen&, const Screen&) = default;
};

class Screens {
public:
    virtual ~Screens() = default;
    // The primary display first.
    virtual std::vector<Screen> screens() const = 0;
    // The screen with the keyboard focus (the active window's screen); nullopt with no screen.
    virtual std::optional<Screen> mainScreen() const = 0;
};

}  // namespace tovalo
