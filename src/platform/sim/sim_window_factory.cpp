#include "platform/sim/sim_window_factory.h"

#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_platform_window.h"

namespace tovalo::sim {

SimWindowFactory::SimWindowFactory(std::weak_ptr<SimDesktop> desktop)
    : desktop_(std::move(desktop)) {}

PlatformWindowRef SimWindowFactory::makeWindow(const WindowCreationOptions& options) {
    auto window = SimPlatformWindow::make(desktop_.lock(), options);
    std::lock_guard lock(mutex_);
    made_.push_back(window);
    return window;
}

std::vector<std::shared_ptr<SimPlatformWindow>> SimWindowFactory::madeWindows() const {
    std::vector<std::shared_ptr<SimPlatformWindow>> result;
    std::lock_guard lock(mutex_);
    for (const auto& weak : made_) {
        if (auto window = weak.lock()) {
            result.push_back(window);
        }
    }
    return result;
}

int SimWindowFactory::madeCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(made_.size());
}

}  // namespace tovalo::sim
