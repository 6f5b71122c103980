#pragma once

// Finds the accessibility element of a window-server window. The two worlds share no key: the
// bridge is the window's owner process and either the element's "AXWindowNumber" or its exact
// on-screen rectangle, which both sides report in the same coordinates. Used by the source
// window observer and by the window activator; holds references to the services only for the
// duration of a lookup. Main thread.

#include <optional>

#include "base/geometry.h"
#include "capture/capture_types.h"
#include "capture/window_server_info.h"
#include "pinning/accessibility_service.h"

namespace tovalo {

class AXWindowLookup {
  public:
    AXWindowLookup(AccessibilityService& accessibility, const WindowServerInfo& windowServerInfo)
        : accessibility_(accessibility), windowServerInfo_(windowServerInfo) {}

    // The owner's process ID from the window server's record; 0 when the window is not listed
    // or its record names no owner that fits a process ID.
    ProcessID ownerPID(WindowID windowID) const;

    // The owner's window element whose "AXWindowNumber" is the window ID, else the first one
    // whose rectangle equals the window server's bounds exactly; nullptr when there is no owner,
    // no readable window list, no bounds or no match.
    AXUIElementRef findAXWindow(WindowID windowID) const;

    // The element's rectangle from "AXPosition" and "AXSize"; nullopt unless both read as a
    // point and a size. A failed read never counts as the zero rectangle, so a degenerate window
    // at the origin cannot match an element that answers nothing.
    static std::optional<Rect> elementFrame(AccessibilityService& accessibility,
                                            const AXUIElementRef& element);

  private:
    AccessibilityService& accessibility_;
    const WindowServerInfo& windowServerInfo_;
};

}  // namespace tovalo
