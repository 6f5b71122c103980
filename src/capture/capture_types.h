#pragma once

// The window model the whole system shares: capturable windows and displays as immutable
// snapshots taken when the capture service produced its content. Window-server rectangles have
// their origin at the top-left of the primary display, y growing downwards, in points.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"

namespace tovalo {

using WindowID = std::uint32_t;
using DisplayID = std::uint32_t;
using ProcessID = std::int32_t;

inline constexpr const char* kUnknownAppName = "Unknown App";
inline constexpr const char* kUntitledWindowTitle = "Untitled Window";

struct SCRunningApplication {
    std::string bundleIdentifier;
    std::string applicationName;
    ProcessID processID = 0;

    friend bool operator==(const SCRunningApplication&, const SCRunningApplication&) = default;
};

struct SCWindow {
    WindowID windowID = 0;
    Rect frame;
    std::optional<std::string> title;
    std::optional<SCRunningApplication> owningApplication;
    bool isOnScreen = false;

    friend bool operator==(const SCWindow&, const SCWindow&) = default;
};

struct SCDisplay {
    DisplayID displayID = 0;
    Rect frame;
    // Size in points, as the service reports it.
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    friend bool operator==(const SCDisplay&, const SCDisplay&) = default;
};

struct SCShareableContent {
    std::vector<SCDisplay> displays;
    std::vector<SCWindow> windows;
};

}  // namespace tovalo
