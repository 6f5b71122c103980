#include "platform/sim/sim_screens.h"

#include "platform/sim/sim_desktop.h"

namespace tovalo::sim {

namespace {

Screen toScreen(const SimDesktop& desktop, const SimDisplay& display) {
    Screen screen;
    screen.displayID = display.displayID;
    screen.frame = desktop.toScreenRect(display.frame);
    screen.visibleFrame = screen.frame;
    screen.visibleFrame.size.height -= SimDesktop::kMenuBarHeight;
    screen.backingScaleFactor = display.scale;
    return screen;
}

}  // namespace

SimScreens::SimScreens(std::weak_ptr<SimDesktop> desktop) : desktop_(std::move(desktop)) {}

std::vector<Screen> SimScreens::screens() const {
    std::vector<Screen> result;
    if (auto desktop = desktop_.lock()) {
        for (const auto& display : desktop->displays()) {
            result.push_back(toScreen(*desktop, display));
        }
    }
    return result;
}

std::optional<Screen> SimScreens::mainScreen() const {
    auto desktop = desktop_.lock();
    if (!desktop) {
        return std::nullopt;
    }
    std::optional<Rect> focus;
    if (auto key = desktop->window(desktop->keyWindow()); key && key->isOnScreen) {
        focus = key->frame;
    } else {
        for (const auto& window : desktop->windowsFrontToBack()) {
            if (window.isOnScreen && window.layer == 0) {
                focus = window.frame;
                break;
            }
        }
    }
    if (focus) {
        if (auto display = desktop->displayContaining(*focus)) {
            return toScreen(*desktop, *display);
        }
    }
    auto all = desktop->displays();
    if (all.empty()) {
        return std::nullopt;
    }
    return toScreen(*desktop, all.front());
}

}  // namespace tovalo::sim
