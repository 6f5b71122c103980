#pragma once

// Port: this program as a desktop application: its activation policy, activation, and its own
// windows. Becoming the active application is posted on the default notification centre as
// SystemNotification::applicationDidBecomeActive.

#include <vector>

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
};

}  // namespace tovalo
