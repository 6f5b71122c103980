#pragma once

// Port: this program as a desktop application: its activation policy, activation, and its own
// windows. Becoming the active application is posted on the default notification centre as
// SystemNotification::applicationDidBecomeActive.

#include <cstdint>
#include <vector>

#include "base/geometry.h"
#include "platform/platform_window.h"

namespace tovalo {

enum class ActivationPolicy {
    regular,    // in the task bar / dock, with windows
    accessory,  // status item only
};

class Application {
  public:
    virtual ~Application() = default;
    virtual ActivationPolicy activationPolicy() const = 0;
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    virtual void activate(bool ignoringOtherApps) = 0;
    virtual bool isActive() const = 0;
    // This program's open windows, front to back.
    virtual std::vector<PlatformWindowRef> windows() const = 0;
    // Ends the process after the termination steps ran.
    virtual void terminate() = 0;

    // Where the pointer is now, in screen coordinates, read outside the event stream.
    virtual Point mouseLocation() const = 0;
    // The mouse buttons held down now: bit 0 the primary button, bit 1 the secondary, bit n
    // button n; 0 when none is pressed.
    virtual std::uint32_t pressedMouseButtons() const = 0;
};

}  // namespace tovalo
