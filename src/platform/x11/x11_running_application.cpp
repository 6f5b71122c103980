#include "platform/x11/x11_running_application.h"

#include <signal.h>

#include <cerrno>
#include <fstream>

#include "platform/x11/x11_icon_image.h"
#include "platform/x11/x11_window_activation.h"

namespace tovalo::x11 {

bool isProcessGone(ProcessID pid) {
    if (pid <= 0) {
        return true;
    }
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    // "pid (name) S ...": the state follows the last parenthesis.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return false;
    }
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() &&
           (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

X11RunningApplication::X11RunningApplication(std::shared_ptr<const ClientWindowReader> reader,
                                             ProcessID pid, ApplicationIdentity identity,
                                             std::vector<std::string> dataDirs)
    : reader_(std::move(reader)),
      pid_(pid),
      identity_(std::move(identity)),
      dataDirs_(std::move(dataDirs)) {}

bool X11RunningApplication::isTerminated() const {
    return terminated_.load() || isProcessGone(pid_);
}

std::vector<xcb_window_t> X11RunningApplication::windows() const {
    std::vector<xcb_window_t> result;
    const auto all = reader_->clientWindowsFrontToBack();
    if (!all) {
        return result;
    }
    const xcb_atom_t pidAtom = reader_->connection().atom("_NET_WM_PID");
    for (const auto window : *all) {
        const auto pid = reader_->cardinals(window, pidAtom, XCB_ATOM_CARDINAL);
        if (pid && !pid->empty() && static_cast<ProcessID>(pid->front()) == pid_) {
            result.push_back(window);
        }
    }
    return result;
}

ImageRef X11RunningApplication::icon() const {
    std::lock_guard lock(mutex_);
    if (icon_) {
        return icon_;
    }
    const std::string themeName = identity_.entry ? identity_.entry->icon : std::string();
    auto themed = X11IconImage::themed(themeName, dataDirs_);
    if (!themeName.empty() && !themed->path().empty()) {
        icon_ = themed;
        return icon_;
    }
    for (const auto window : windows()) {
        if (auto pixels = reader_->icon(window)) {
            icon_ =
                X11IconImage::fromPixels(pixels->width, pixels->height, std::move(pixels->argb));
            return icon_;
        }
    }
    // No file and no pixels: leave it to the icon theme by name (not cached: a window may
    // publish its icon later).
    return themeName.empty() ? X11IconImage::themed("application-x-executable", dataDirs_) : themed;
}

bool X11RunningApplication::activate(bool /*ignoringOtherApps*/) {
    if (isTerminated()) {
        return false;
    }
    const auto mine = windows();
    return !mine.empty() && WindowActivation::activate(reader_->connection(), mine.front());
}

}  // namespace tovalo::x11
