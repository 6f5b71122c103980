#pragma once

// Which stream controller captures which window: at most one live controller per window ID, so
// two overlays never run two capture sessions of one window. Entries hold their controller
// weakly; a controller that is gone counts as absent. One instance per process, built by the
// composition root and shared by every controller. Any thread: reads run as plain tasks on
// "com.tovalohq.tovalo.windowStreamRegistry", writes as exclusive ones.

#include <map>
#include <memory>

#include "base/dispatch_queue.h"
#include "base/dispatch_runtime.h"
#include "capture/capture_types.h"

namespace tovalo {

class WindowStreamController;

class WindowStreamRegistry {
  public:
    static constexpr const char* queueLabel = "com.tovalohq.tovalo.windowStreamRegistry";

    explicit WindowStreamRegistry(DispatchRuntime& runtime);

    // Drops entries whose controller is gone, then claims `windowID` for `controller`. False
    // when another live controller holds it; claiming it again for the same one succeeds.
    bool registerController(WindowID windowID,
                            const std::shared_ptr<WindowStreamController>& controller);
    // Releases `windowID` only if `controller` holds it.
    void unregisterController(WindowID windowID, const WindowStreamController* controller);
    // Releases `windowID` if its controller is gone (for a controller being destroyed, which
    // can no longer be named by a live reference).
    void unregisterIfGone(WindowID windowID);
    bool isRegisteredOwner(WindowID windowID, const WindowStreamController* controller) const;
    std::shared_ptr<WindowStreamController> registeredController(WindowID windowID) const;

  private:
    // The address identifies the controller without locking the weak reference, which inside a
    // registry task could make the registry its last owner and destroy it there.
    struct Owner {
        std::weak_ptr<WindowStreamController> controller;
        const WindowStreamController* address = nullptr;

        bool isAlive() const { return !controller.expired(); }
        bool is(const WindowStreamController* other) const { return isAlive() && address == other; }
    };

    std::shared_ptr<DispatchQueue> queue_;
    // Touched only by tasks of `queue_`.
    std::map<WindowID, Owner> registry_;
};

}  // namespace tovalo
