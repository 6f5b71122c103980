#pragma once

// What the simulated desktop knows about one window, as a value: a snapshot a test or a port
// reads. Frames are window-server rectangles (top-left origin of the primary display, points).

#include <cstdint>
#include <optional>
#include <string>

#include "base/geometry.h"
#include "capture/capture_types.h"

namespace tovalo::sim {

struct SimWindowState {
    WindowID windowID = 0;
    ProcessID ownerPID = 0;
    std::string ownerName;
    std::optional<std::string> title;
    Rect frame;
    int layer = 0;
    double alpha = 1.0;
    // 0: the window forbids capture; 1: read-only sharing (the usual value).
    int sharingState = 1;
    std::int64_t memoryUsage = 0;
    bool isMinimized = false;
    bool isFullScreen = false;
    // False while the window is ordered out (hidden without being minimised).
    bool isOrderedIn = true;
    // The virtual desktop it lives on; 0 means every desktop.
    int desktop = 1;
    // A window of this program (made through the window factory).
    bool isOwnWindow = false;
    // Derived when the snapshot is taken: ordered in, not minimised, on the current desktop.
    bool isOnScreen = false;

    friend bool operator==(const SimWindowState&, const SimWindowState&) = default;
};

}  // namespace tovalo::sim
