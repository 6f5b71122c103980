#pragma once

// An accessibility element of the X11 backend: an application (by process ID) or one of its
// client windows (by XID). Two elements are the same when they name the same application or
// window. Made by X11AccessibilityService.

#include <xcb/xcb.h>

#include <memory>

#include "pinning/accessibility_service.h"

namespace tovalo::x11 {

class X11AXElement final : public AXUIElement {
  public:
    enum class Kind { application, window };

    static std::shared_ptr<X11AXElement> application(ProcessID pid);
    static std::shared_ptr<X11AXElement> window(ProcessID pid, xcb_window_t window);

    X11AXElement(Kind kind, ProcessID pid, xcb_window_t window);

    bool isSameElement(const AXUIElement& other) const override;

    Kind kind() const { return kind_; }
    ProcessID pid() const { return pid_; }
    // XCB_WINDOW_NONE for an application element.
    xcb_window_t window() const { return window_; }

  private:
    Kind kind_;
    ProcessID pid_;
    xcb_window_t window_;
};

}  // namespace tovalo::x11
