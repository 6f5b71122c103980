#pragma once

// The accessibility service on X, built on EWMH and X events: an application's "AXWindows" are
// its managed client windows on the current desktop (or on all desktops; minimised ones
// included), front to back; a window answers "AXWindowNumber" (its XID), "AXPosition" and
// "AXSize" (its frame geometry, the same bounds the window server lists, so they compare
// equal) and "AXFullScreen" (_NET_WM_STATE_FULLSCREEN); "AXRaise" asks the window manager to
// activate and raise it. Observers follow X events (see X11AXObserver). Trust is always
// granted. A window destroyed at any point reads as kAXErrorInvalidUIElement, never as an X
// error. Reads work from any thread; observers belong to the main thread. Owned by the
// composition root.

#include <memory>

#include "base/dispatch_runtime.h"
#include "pinning/accessibility_service.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_event_source.h"

namespace tovalo::x11 {

inline constexpr AXError kAXErrorActionUnsupported = -25206;

class X11AccessibilityService final : public AccessibilityService {
  public:
    X11AccessibilityService(std::shared_ptr<X11EventSource> events,
                            std::shared_ptr<const ClientWindowReader> reader,
                            std::shared_ptr<DispatchRuntime> runtime);

    bool isProcessTrusted(bool prompt) override;
    AXUIElementRef createApplicationElement(ProcessID pid) override;
    AXError copyAttributeValue(const AXUIElementRef& element, const std::string& attribute,
                               AXValue& value) override;
    AXError performAction(const AXUIElementRef& element, const std::string& action) override;
    // Fails with kAXErrorIllegalArgument for a process that is not running.
    std::unique_ptr<AXObserver> createObserver(ProcessID pid, AXObserver::Callback callback,
                                               AXError& error) override;

  private:
    AXError copyWindows(ProcessID pid, AXValue& value);
    bool windowExists(xcb_window_t window) const;

    const std::shared_ptr<X11EventSource> events_;
    const std::shared_ptr<const ClientWindowReader> reader_;
    const std::shared_ptr<DispatchRuntime> runtime_;
    bool hasHiddenState_ = true;
};

}  // namespace tovalo::x11
