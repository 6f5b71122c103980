#pragma once

// Port: the accessibility service, through which the program follows, raises and inspects other
// applications' windows. On X11 it is built on EWMH; the simulated desktop keeps elements that
// follow its windows.
//
// What callers rely on: every failed read returns a non-zero result code; positions and sizes
// are in the window server's coordinate space (top-left origin, points), so exact equality with
// the window server's bounds identifies a window; observer callbacks run on the main queue.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "base/geometry.h"
#include "capture/capture_types.h"

namespace tovalo {

using AXError = std::int32_t;
inline constexpr AXError kAXErrorSuccess = 0;
inline constexpr AXError kAXErrorFailure = -25200;
inline constexpr AXError kAXErrorIllegalArgument = -25201;
inline constexpr AXError kAXErrorInvalidUIElement = -25202;
inline constexpr AXError kAXErrorCannotComplete = -25204;
inline constexpr AXError kAXErrorAttributeUnsupported = -25205;
inline constexpr AXError kAXErrorNotificationUnsupported = -25207;
inline constexpr AXError kAXErrorAPIDisabled = -25211;
inline constexpr AXError kAXErrorNoValue = -25212;

namespace AXAttribute {
inline constexpr const char* windows = "AXWindows";
inline constexpr const char* windowNumber = "AXWindowNumber";
inline constexpr const char* position = "AXPosition";
inline constexpr const char* size = "AXSize";
inline constexpr const char* fullScreen = "AXFullScreen";
}  // namespace AXAttribute

namespace AXAction {
inline constexpr const char* raise = "AXRaise";
}

namespace AXNotification {
inline constexpr const char* moved = "AXMoved";
inline constexpr const char* resized = "AXResized";
inline constexpr const char* uiElementDestroyed = "AXUIElementDestroyed";
inline constexpr const char* windowMiniaturized = "AXWindowMiniaturized";
inline constexpr const char* windowDeminiaturized = "AXWindowDeminiaturized";
}  // namespace AXNotification

// An application or window element. Opaque: only the service that made it understands it.
// Two references to the same window compare equal through `isSameElement`.
class AXUIElement {
  public:
    virtual ~AXUIElement() = default;
    virtual bool isSameElement(const AXUIElement& other) const = 0;
};

using AXUIElementRef = std::shared_ptr<AXUIElement>;

// An attribute's value: a list of elements ("AXWindows"), a number ("AXWindowNumber"),
// a point ("AXPosition"), a size ("AXSize") or a Boolean ("AXFullScreen").
using AXValue =
    std::variant<std::monostate, std::vector<AXUIElementRef>, std::int64_t, Point, Size, bool>;

class AXObserver {
  public:
    // Runs on the main queue while the observer is attached.
    using Callback =
        std::function<void(const AXUIElementRef& element, const std::string& notification)>;

    virtual ~AXObserver() = default;
    virtual AXError addNotification(const AXUIElementRef& element,
                                    const std::string& notification) = 0;
    virtual AXError removeNotification(const AXUIElementRef& element,
                                       const std::string& notification) = 0;
    // The run-loop source: callbacks are delivered only while attached.
    virtual void attachToMainRunLoop() = 0;
    virtual void detachFromMainRunLoop() = 0;
};

class AccessibilityService {
  public:
    virtual ~AccessibilityService() = default;

    // Whether this process may use the service; with `prompt` the system also asks the user.
    virtual bool isProcessTrusted(bool prompt) = 0;

    virtual AXUIElementRef createApplicationElement(ProcessID pid) = 0;
    virtual AXError copyAttributeValue(const AXUIElementRef& element, const std::string& attribute,
                                       AXValue& value) = 0;
    virtual AXError performAction(const AXUIElementRef& element, const std::string& action) = 0;

    // Nullptr with a non-zero `error` when no observer can be made for that process.
    virtual std::unique_ptr<AXObserver> createObserver(ProcessID pid, AXObserver::Callback callback,
                                                       AXError& error) = 0;
};

}  // namespace tovalo
