#include "platform/x11/x11_workspace.h"

#include <unistd.h>

#include <filesystem>
#include <set>
#include <system_error>

#include "platform/x11/x11_icon_image.h"

namespace tovalo::x11 {

X11Workspace::X11Workspace(std::shared_ptr<const ClientWindowReader> reader,
                           std::shared_ptr<const DesktopEntryIndex> index)
    : reader_(std::move(reader)), index_(std::move(index)) {}

std::shared_ptr<X11RunningApplication> X11Workspace::applicationFor(
    const ClientWindowInfo& window) const {
    std::lock_guard lock(mutex_);
    auto it = applications_.find(window.pid);
    if (it != applications_.end() && !it->second->isTerminated()) {
        return it->second;
    }
    auto app = std::make_shared<X11RunningApplication>(
        reader_, window.pid, ApplicationIdentity::resolve(window, *index_),
        index_->dataDirectories());
    applications_.insert_or_assign(window.pid, app);
    return app;
}

std::vector<RunningApplicationRef> X11Workspace::runningApplications() const {
    std::vector<RunningApplicationRef> result;
    const auto windows = reader_->clientWindowsFrontToBack();
    if (!windows) {
        return result;
    }
    std::set<ProcessID> seen;
    for (const auto window : *windows) {
        const auto info = reader_->read(window);
        if (!info || info->pid <= 0 || seen.contains(info->pid)) {
            continue;
        }
        seen.insert(info->pid);
        auto app = applicationFor(*info);
        if (!app->isTerminated()) {
            result.push_back(std::move(app));
        }
    }
    return result;
}

std::vector<RunningApplicationRef> X11Workspace::runningApplications(
    const std::string& bundleIdentifier) const {
    std::vector<RunningApplicationRef> result;
    for (auto& app : runningApplications()) {
        if (app->bundleIdentifier() == bundleIdentifier) {
            result.push_back(std::move(app));
        }
    }
    return result;
}

RunningApplicationRef X11Workspace::runningApplication(ProcessID pid) const {
    if (pid <= 0 || isProcessGone(pid)) {
        return nullptr;
    }
    const auto windows = reader_->clientWindowsFrontToBack();
    if (!windows) {
        return nullptr;
    }
    const xcb_atom_t pidAtom = reader_->connection().atom("_NET_WM_PID");
    for (const auto window : *windows) {
        const auto owner = reader_->cardinals(window, pidAtom, XCB_ATOM_CARDINAL);
        if (!owner || owner->empty() || static_cast<ProcessID>(owner->front()) != pid) {
            continue;
        }
        if (auto info = reader_->read(window)) {
            return applicationFor(*info);
        }
    }
    return nullptr;
}

std::optional<std::string> X11Workspace::fullPathForApplication(const std::string& name) const {
    const auto* entry = index_->findByName(name);
    return entry ? std::optional<std::string>(entry->path) : std::nullopt;
}

std::optional<std::string> X11Workspace::pathForApplication(
    const std::string& bundleIdentifier) const {
    const auto* entry = index_->find(bundleIdentifier);
    return entry ? std::optional<std::string>(entry->path) : std::nullopt;
}

ImageRef X11Workspace::iconForFile(const std::string& path) const {
    namespace fs = std::filesystem;
    if (path.ends_with(".desktop")) {
        if (auto entry = DesktopEntryIndex::parse(path, fs::path(path).stem().string());
            entry && !entry->icon.empty()) {
            return X11IconImage::themed(entry->icon, index_->dataDirectories());
        }
        return iconForFileType("app");
    }
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return X11IconImage::themed("folder", index_->dataDirectories());
    }
    if (::access(path.c_str(), X_OK) == 0) {
        return iconForFileType("app");
    }
    return iconForFileType("");
}

ImageRef X11Workspace::iconForFileType(const std::string& type) const {
    const bool isApplication = type == "app" || type == "application";
    return X11IconImage::themed(isApplication ? "application-x-executable" : "text-x-generic",
                                index_->dataDirectories());
}

void X11Workspace::applicationTerminated(ProcessID pid) {
    std::lock_guard lock(mutex_);
    if (auto it = applications_.find(pid); it != applications_.end()) {
        it->second->markTerminated();
        applications_.erase(it);
    }
}

}  // namespace tovalo::x11
