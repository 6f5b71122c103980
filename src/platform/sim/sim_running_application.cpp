#include "platform/sim/sim_running_application.h"

#include "platform/sim/sim_desktop.h"

namespace tovalo::sim {

SimRunningApplication::SimRunningApplication(std::weak_ptr<SimDesktop> desktop, ProcessID pid,
                                             std::string bundleIdentifier, std::string name,
                                             ImageRef icon)
    : desktop_(std::move(desktop)),
      pid_(pid),
      bundleIdentifier_(std::move(bundleIdentifier)),
      name_(std::move(name)),
      icon_(std::move(icon)) {}

ImageRef SimRunningApplication::icon() const {
    std::lock_guard lock(mutex_);
    return icon_;
}

void SimRunningApplication::setIcon(ImageRef icon) {
    std::lock_guard lock(mutex_);
    icon_ = std::move(icon);
}

bool SimRunningApplication::activate(bool ignoringOtherApps) {
    {
        std::lock_guard lock(mutex_);
        activationCalls_.push_back(ignoringOtherApps);
    }
    if (isTerminated()) {
        return false;
    }
    auto desktop = desktop_.lock();
    return desktop && desktop->activateApp(pid_);
}

bool SimRunningApplication::terminate() {
    auto desktop = desktop_.lock();
    return desktop && desktop->quitApp(pid_);
}

std::vector<bool> SimRunningApplication::activationCalls() const {
    std::lock_guard lock(mutex_);
    return activationCalls_;
}

int SimRunningApplication::activationCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(activationCalls_.size());
}

}  // namespace tovalo::sim
