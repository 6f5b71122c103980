#include "platform/x11/x11_screens.h"

namespace tovalo::x11 {

namespace {

Rect flip(const Rect& rect, const Rect& primaryFrame) {
    return Rect(rect.origin.x, primaryFrame.maxY() - rect.maxY(), rect.size.width,
                rect.size.height);
}

}  // namespace

X11Screens::X11Screens(std::shared_ptr<const ClientWindowReader> reader)
    : reader_(std::move(reader)) {}

Screen X11Screens::toScreen(const Monitor& monitor, const Rect& primaryFrame,
                            const std::optional<Rect>& workArea, double scale) {
    Screen screen;
    screen.displayID = monitor.id;
    screen.frame = flip(monitor.frame, primaryFrame);
    Rect visible = monitor.frame;
    if (workArea) {
        const Rect inside = intersection(monitor.frame, *workArea);
        if (!inside.isEmpty()) {
            visible = inside;
        }
    }
    screen.visibleFrame = flip(visible, primaryFrame);
    screen.backingScaleFactor = scale;
    return screen;
}

std::optional<Rect> X11Screens::workArea() const {
    Connection& connection = reader_->connection();
    const auto areas =
        reader_->cardinals(connection.root(), connection.atom("_NET_WORKAREA"), XCB_ATOM_CARDINAL);
    if (!areas || areas->size() < 4) {
        return std::nullopt;
    }
    std::size_t desktop = reader_->currentDesktop().value_or(0);
    if ((desktop + 1) * 4 > areas->size()) {
        desktop = 0;
    }
    const auto* area = areas->data() + desktop * 4;
    return Rect(area[0], area[1], area[2], area[3]);
}

std::vector<Screen> X11Screens::screens() const {
    std::vector<Screen> result;
    const auto monitors = RandrMonitors::read(reader_->connection());
    if (monitors.empty()) {
        return result;
    }
    const auto area = workArea();
    for (const auto& monitor : monitors) {
        const double scale = scaleProvider_ ? scaleProvider_(monitor) : 1.0;
        result.push_back(toScreen(monitor, monitors.front().frame, area, scale));
    }
    return result;
}

std::optional<Screen> X11Screens::mainScreen() const {
    const auto monitors = RandrMonitors::read(reader_->connection());
    if (monitors.empty()) {
        return std::nullopt;
    }
    const Monitor* best = &monitors.front();
    const xcb_window_t active = reader_->activeWindow();
    if (active != XCB_WINDOW_NONE) {
        if (const auto bounds = reader_->bounds(active)) {
            double bestArea = 0;
            for (const auto& monitor : monitors) {
                const Rect overlap = intersection(monitor.frame, *bounds);
                const double area = overlap.size.width * overlap.size.height;
                if (area > bestArea) {
                    bestArea = area;
                    best = &monitor;
                }
            }
        }
    }
    const double scale = scaleProvider_ ? scaleProvider_(*best) : 1.0;
    return toScreen(*best, monitors.front().frame, workArea(), scale);
}

}  // namespace tovalo::x11
