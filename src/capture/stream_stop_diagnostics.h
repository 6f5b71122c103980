#pragma once

// What is known about a captured window at the moment the system ended its stream: the
// capture service's view of it, the window server's view now, and whether the shareable
// content cache still lists it. Gathered by the stream session handler for its debug line and
// its error report; the readers must be safe from any thread.

#include <functional>
#include <optional>

#include "base/debug_log.h"
#include "base/geometry.h"
#include "base/value.h"
#include "capture/capture_types.h"
#include "capture/filtered_shareable_content.h"

namespace tovalo {

namespace StreamStopDiagnosticsKey {
inline constexpr const char* scwindowIsOnScreen = "scwindow_isOnScreen";
inline constexpr const char* scwindowFrame = "scwindow_frame";
inline constexpr const char* cgwindowFrame = "cgwindow_frame";
inline constexpr const char* cgwindowInfo = "cgwindow_info";
inline constexpr const char* inCachedContent = "in_cached_content";
inline constexpr const char* currentFrame = "current_frame";
}  // namespace StreamStopDiagnosticsKey

// Written where a fact is unknown.
inline constexpr const char* kDiagnosticsNil = "<nil>";
// Written for "in_cached_content" while the provider holds no content.
inline constexpr const char* kDiagnosticsNoCache = "<no_cache>";

// Where the facts come from. An empty reader counts as one that knows nothing.
struct StreamStopDiagnosticsSources {
    // The window server's current bounds of a window.
    std::function<std::optional<Rect>(WindowID)> windowBounds;
    // The window server's facts about a window.
    std::function<std::optional<ValueMap>(WindowID)> windowInfo;
    // The shareable content provider's cache.
    std::function<std::optional<FilteredShareableContent>()> cachedContent;
};

// The facts in a fixed order: scwindow_isOnScreen, scwindow_frame, cgwindow_frame,
// cgwindow_info, in_cached_content and, only when there is a cache, current_frame.
DebugLogProperties streamStopDiagnostics(const SCWindow& window,
                                         const StreamStopDiagnosticsSources& sources);

}  // namespace tovalo
