#include "platform/qt/qt_window_factory.h"

#include <algorithm>

namespace tovalo::qt {

QtWindowFactory::QtWindowFactory(std::shared_ptr<DispatchRuntime> runtime)
    : runtime_(std::move(runtime)) {}

PlatformWindowRef QtWindowFactory::makeWindow(const WindowCreationOptions& options) {
    auto panel = QtPanel::make(options, runtime_);
    made_.push_back(panel);
    return panel;
}

std::vector<std::shared_ptr<QtPanel>> QtWindowFactory::openWindows() const {
    std::vector<std::shared_ptr<QtPanel>> result;
    std::erase_if(made_, [](const std::weak_ptr<QtPanel>& weak) { return weak.expired(); });
    for (const auto& weak : made_) {
        if (auto panel = weak.lock(); panel && !panel->isClosed()) {
            result.push_back(std::move(panel));
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const auto& a, const auto& b) {
        if (a->isVisible() != b->isVisible()) {
            return a->isVisible();
        }
        return a->orderStamp() > b->orderStamp();
    });
    return result;
}

}  // namespace tovalo::qt
