#include "platform/sim/sim_workspace.h"

#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_image.h"
#include "platform/sim/sim_running_application.h"

namespace tovalo::sim {

SimWorkspace::SimWorkspace(std::weak_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

std::vector<RunningApplicationRef> SimWorkspace::runningApplications() const {
    std::vector<RunningApplicationRef> result;
    if (auto desktop = desktop_.lock()) {
        for (auto& app : desktop->runningApps()) {
            result.push_back(app);
        }
    }
    return result;
}

std::vector<RunningApplicationRef> SimWorkspace::runningApplications(
    const std::string& bundleIdentifier) const {
    std::vector<RunningApplicationRef> result;
    if (auto desktop = desktop_.lock()) {
        for (auto& app : desktop->runningApps()) {
            if (app->bundleIdentifier() == bundleIdentifier) {
                result.push_back(app);
            }
        }
    }
    return result;
}

RunningApplicationRef SimWorkspace::runningApplication(ProcessID pid) const {
    auto desktop = desktop_.lock();
    if (!desktop) {
        return nullptr;
    }
    auto app = desktop->app(pid);
    if (!app || app->isTerminated()) {
        return nullptr;
    }
    return app;
}

std::optional<std::string> SimWorkspace::fullPathForApplication(const std::string& name) const {
    auto desktop = desktop_.lock();
    return desktop ? desktop->applicationPath(name) : std::nullopt;
}

std::optional<std::string> SimWorkspace::pathForApplication(
    const std::string& bundleIdentifier) const {
    auto desktop = desktop_.lock();
    return desktop ? desktop->applicationPathForBundleIdentifier(bundleIdentifier) : std::nullopt;
}

ImageRef SimWorkspace::iconForFile(const std::string& path) const {
    return SimImage::make("icon of file " + path);
}

ImageRef SimWorkspace::iconForFileType(const std::string& type) const {
    return SimImage::make("icon of type " + type);
}

}  // namespace tovalo::sim
