#pragma once

// Port: the window server's list of windows, one record per window as a string-keyed map. The
// record keys are the window server's own ("kCGWindowNumber", "kCGWindowBounds", ...). Bounds are
// window-server rectangles: top-left origin of the primary display, points.

#include <cstdint>
#include <optional>

#include "base/value.h"
#include "capture/capture_types.h"

namespace tovalo {

using WindowListOption = std::uint32_t;

namespace WindowListOptions {
inline constexpr WindowListOption all = 0;
inline constexpr WindowListOption onScreenOnly = 1 << 0;
inline constexpr WindowListOption onScreenAboveWindow = 1 << 1;
inline constexpr WindowListOption onScreenBelowWindow = 1 << 2;
inline constexpr WindowListOption includingWindow = 1 << 3;
inline constexpr WindowListOption excludeDesktopElements = 1 << 4;
}  // namespace WindowListOptions

inline constexpr WindowID kNullWindowID = 0;

namespace WindowInfoKey {
inline constexpr const char* number = "kCGWindowNumber";
inline constexpr const char* name = "kCGWindowName";
inline constexpr const char* ownerName = "kCGWindowOwnerName";
inline constexpr const char* ownerPID = "kCGWindowOwnerPID";
inline constexpr const char* layer = "kCGWindowLayer";
inline constexpr const char* alpha = "kCGWindowAlpha";
inline constexpr const char* sharingState = "kCGWindowSharingState";
inline constexpr const char* memoryUsage = "kCGWindowMemoryUsage";
inline constexpr const char* isOnscreen = "kCGWindowIsOnscreen";
// A map with "X", "Y", "Width", "Height".
inline constexpr const char* bounds = "kCGWindowBounds";
}  // namespace WindowInfoKey

class WindowServer {
public:
    virtual ~WindowServer() = default;
    // Front-to-back list of window records, filtered by `options` (relative to `relativeToWindow`
    // where an option needs a window); nullopt when the window server cannot answer.
    virtual std::optional<ValueList> copyWindowInfo(WindowListOption options,
                                                    WindowID relativeToWindow) = 0;
};

}  // namespace tovalo
