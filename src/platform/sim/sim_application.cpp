#include "platform/sim/sim_application.h"

#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_platform_window.h"

namespace tovalo::sim {

SimApplication::SimApplication(std::weak_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

ActivationPolicy SimApplication::activationPolicy() const {
    std::lock_guard lock(mutex_);
    return policy_;
}

void SimApplication::setActivationPolicy(ActivationPolicy policy) {
    std::lock_guard lock(mutex_);
    policy_ = policy;
    policyHistory_.push_back(policy);
}

void SimApplication::activate(bool ignoringOtherApps) {
    {
        std::lock_guard lock(mutex_);
        activationCalls_.push_back(ignoringOtherApps);
    }
    if (auto desktop = desktop_.lock()) {
        desktop->activateSelf();
    }
}

Point SimApplication::mouseLocation() const {
    auto desktop = desktop_.lock();
    return desktop ? desktop->pointerLocation() : Point{};
}

std::uint32_t SimApplication::pressedMouseButtons() const {
    auto desktop = desktop_.lock();
    return desktop ? desktop->pressedMouseButtons() : 0;
}

bool SimApplication::isActive() const {
    auto desktop = desktop_.lock();
    return desktop && desktop->isSelfActive();
}

std::vector<PlatformWindowRef> SimApplication::windows() const {
    std::vector<PlatformWindowRef> result;
    if (auto desktop = desktop_.lock()) {
        for (auto& window : desktop->ownWindowsFrontToBack()) {
            result.push_back(window);
        }
    }
    return result;
}

void SimApplication::terminate() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        ++terminateCount_;
        if (terminateCount_ > 1) {
            return;
        }
        handler = terminationHandler_;
    }
    if (handler) {
        handler();
    }
}

void SimApplication::setTerminationHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    terminationHandler_ = std::move(handler);
}

bool SimApplication::isTerminated() const {
    std::lock_guard lock(mutex_);
    return terminateCount_ > 0;
}

int SimApplication::terminateCount() const {
    std::lock_guard lock(mutex_);
    return terminateCount_;
}

std::vector<ActivationPolicy> SimApplication::policyHistory() const {
    std::lock_guard lock(mutex_);
    return policyHistory_;
}

std::vector<bool> SimApplication::activationCalls() const {
    std::lock_guard lock(mutex_);
    return activationCalls_;
}

}  // namespace tovalo::sim
