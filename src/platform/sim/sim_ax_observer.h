#pragma once

// An accessibility observer of the simulated desktop for one process. It calls back, on the
// main queue in a later turn, for each change of a window it registered a notification for, and
// only while it is attached to the main run loop (attachment is checked when the change happens
// and again when the callback would run). Made by SimAccessibilityService::createObserver; the
// caller owns it, the service follows it weakly.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/dispatch_queue.h"
#include "pinning/accessibility_service.h"

namespace tovalo::sim {

class SimAccessibilityService;

// Not registered with this observer.
inline constexpr AXError kAXErrorNotificationNotRegistered = -25210;
inline constexpr AXError kAXErrorNotificationAlreadyRegistered = -25209;

class SimAXObserver final : public AXObserver {
  public:
    // The observer's state, shared with the service and with callbacks already queued.
    struct Core : std::enable_shared_from_this<Core> {
        struct Registration {
            AXUIElementRef element;
            std::string notification;
        };

        ProcessID pid = 0;
        Callback callback;
        std::shared_ptr<DispatchQueue> mainQueue;
        std::mutex mutex;
        bool alive = true;
        bool attached = false;
        std::vector<Registration> registrations;

        // A change of `windowID` named `notification`: queues the callback for each matching
        // registration.
        void deliver(WindowID windowID, const std::string& notification);
    };

    SimAXObserver(std::weak_ptr<SimAccessibilityService> service, ProcessID pid, Callback callback,
                  std::shared_ptr<DispatchQueue> mainQueue);
    // No callback runs after the observer is gone, also none already queued.
    ~SimAXObserver() override;

    AXError addNotification(const AXUIElementRef& element,
                            const std::string& notification) override;
    AXError removeNotification(const AXUIElementRef& element,
                               const std::string& notification) override;
    void attachToMainRunLoop() override;
    void detachFromMainRunLoop() override;

    ProcessID pid() const { return core_->pid; }
    bool isAttached() const;
    int registrationCount() const;
    const std::shared_ptr<Core>& core() const { return core_; }

  private:
    const std::weak_ptr<SimAccessibilityService> service_;
    const std::shared_ptr<Core> core_;
};

}  // namespace tovalo::sim
