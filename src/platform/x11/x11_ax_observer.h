#pragma once

// An accessibility observer of the X11 backend for one process. For each registered window it
// follows X events on the main-thread connection: ConfigureNotify of the frame and of the
// client (moves arrive only at the frame) become "AXMoved" / "AXResized" when the window's
// bounds changed; DestroyNotify of the client, or the window manager withdrawing it (WM_STATE
// removed or Withdrawn), "AXUIElementDestroyed" (once); _NET_WM_STATE_HIDDEN appearing or
// going (WM_STATE Iconic where the window manager has no HIDDEN state) "AXWindowMiniaturized"
// / "AXWindowDeminiaturized". Callbacks run on the main queue in a later turn, only while the
// observer is attached (checked when the event arrives and when the callback would run), and
// never after the observer is gone. Main thread only. Made by
// X11AccessibilityService::createObserver; the caller owns it.

#include <xcb/xcb.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "base/dispatch_queue.h"
#include "base/subscription.h"
#include "pinning/accessibility_service.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_event_source.h"

namespace tovalo::x11 {

inline constexpr AXError kAXErrorNotificationAlreadyRegistered = -25209;
inline constexpr AXError kAXErrorNotificationNotRegistered = -25210;

class X11AXObserver final : public AXObserver {
  public:
    X11AXObserver(std::shared_ptr<X11EventSource> events,
                  std::shared_ptr<const ClientWindowReader> reader, ProcessID pid,
                  Callback callback, std::shared_ptr<DispatchQueue> mainQueue,
                  bool windowManagerHasHiddenState);
    ~X11AXObserver() override;

    AXError addNotification(const AXUIElementRef& element,
                            const std::string& notification) override;
    AXError removeNotification(const AXUIElementRef& element,
                               const std::string& notification) override;
    void attachToMainRunLoop() override;
    void detachFromMainRunLoop() override;

    ProcessID pid() const;
    // Windows with at least one registration.
    std::size_t watchedWindowCount() const;

  private:
    struct Core;
    const std::shared_ptr<Core> core_;
};

}  // namespace tovalo::x11
