#include "capture/window_stream_registry.h"

namespace tovalo {

WindowStreamRegistry::WindowStreamRegistry(DispatchRuntime& runtime)
    : queue_(runtime.makeConcurrentQueue(queueLabel)) {}

bool WindowStreamRegistry::registerController(
    WindowID windowID, const std::shared_ptr<WindowStreamController>& controller) {
    return queue_->syncBarrier([&] {
        std::erase_if(registry_, [](const auto& entry) { return !entry.second.isAlive(); });
        if (auto found = registry_.find(windowID); found != registry_.end()) {
            if (!found->second.is(controller.get())) {
                return false;
            }
        }
        registry_[windowID] = Owner{controller, controller.get()};
        return true;
    });
}

void WindowStreamRegistry::unregisterController(WindowID windowID,
                                                const WindowStreamController* controller) {
    queue_->syncBarrier([&] {
        auto found = registry_.find(windowID);
        if (found != registry_.end() && found->second.is(controller)) {
            registry_.erase(found);
        }
    });
}

void WindowStreamRegistry::unregisterIfGone(WindowID windowID) {
    queue_->syncBarrier([&] {
        auto found = registry_.find(windowID);
        if (found != registry_.end() && !found->second.isAlive()) {
            registry_.erase(found);
        }
    });
}

bool WindowStreamRegistry::isRegisteredOwner(WindowID windowID,
                                             const WindowStreamController* controller) const {
    return queue_->sync([&] {
        auto found = registry_.find(windowID);
        return controller != nullptr && found != registry_.end() && found->second.is(controller);
    });
}

std::shared_ptr<WindowStreamController> WindowStreamRegistry::registeredController(
    WindowID windowID) const {
    return queue_->sync([&]() -> std::shared_ptr<WindowStreamController> {
        auto found = registry_.find(windowID);
        return found == registry_.end() ? nullptr : found->second.controller.lock();
    });
}

}  // namespace tovalo
