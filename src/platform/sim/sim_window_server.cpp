#include "platform/sim/sim_window_server.h"

#include <algorithm>

#include "platform/sim/sim_desktop.h"

namespace tovalo::sim {

SimWindowServer::SimWindowServer(std::weak_ptr<SimDesktop> desktop)
    : desktop_(std::move(desktop)) {}

ValueMap SimWindowServer::record(const SimWindowState& window, bool includeTitle) {
    ValueMap bounds{
        {"X", Value(window.frame.origin.x)},
        {"Y", Value(window.frame.origin.y)},
        {"Width", Value(window.frame.size.width)},
        {"Height", Value(window.frame.size.height)},
    };
    ValueMap result{
        {WindowInfoKey::number, Value(window.windowID)},
        {WindowInfoKey::ownerName, Value(window.ownerName)},
        {WindowInfoKey::ownerPID, Value(window.ownerPID)},
        {WindowInfoKey::layer, Value(window.layer)},
        {WindowInfoKey::alpha, Value(window.alpha)},
        {WindowInfoKey::sharingState, Value(window.sharingState)},
        {WindowInfoKey::memoryUsage, Value(window.memoryUsage)},
        {WindowInfoKey::isOnscreen, Value(window.isOnScreen)},
        {WindowInfoKey::bounds, Value(std::move(bounds))},
    };
    if (includeTitle && window.title) {
        result[WindowInfoKey::name] = Value(*window.title);
    }
    return result;
}

std::optional<ValueList> SimWindowServer::copyWindowInfo(WindowListOption options,
                                                         WindowID relativeToWindow) {
    ++queries_;
    if (!available_.load() || failNext_.exchange(false)) {
        return std::nullopt;
    }
    auto desktop = desktop_.lock();
    if (!desktop) {
        return std::nullopt;
    }
    const auto windows = desktop->windowsFrontToBack();
    const bool includeTitles = desktop->isScreenRecordingAllowed();

    const bool including = (options & WindowListOptions::includingWindow) != 0;
    const bool above = (options & WindowListOptions::onScreenAboveWindow) != 0;
    const bool below = (options & WindowListOptions::onScreenBelowWindow) != 0;
    const bool onScreenOnly = (options & WindowListOptions::onScreenOnly) != 0;
    const bool excludeDesktop = (options & WindowListOptions::excludeDesktopElements) != 0;

    auto relative = std::find_if(windows.begin(), windows.end(), [&](const SimWindowState& w) {
        return w.windowID == relativeToWindow;
    });
    const bool needsRelative = including || ((above || below) && relativeToWindow != kNullWindowID);
    if (needsRelative && relative == windows.end()) {
        return ValueList{};
    }

    ValueList result;
    for (auto it = windows.begin(); it != windows.end(); ++it) {
        const SimWindowState& window = *it;
        bool listed = false;
        if (above || below) {
            if (relativeToWindow == kNullWindowID) {
                listed = window.isOnScreen;
            } else if (it == relative) {
                listed = including;
            } else {
                const bool isAbove = it < relative;
                listed = window.isOnScreen && ((above && isAbove) || (below && !isAbove));
            }
        } else if (including) {
            listed = it == relative;
        } else {
            listed = !onScreenOnly || window.isOnScreen;
        }
        if (listed && excludeDesktop && window.layer < 0) {
            listed = false;
        }
        if (listed) {
            result.emplace_back(record(window, includeTitles));
        }
    }
    return result;
}

}  // namespace tovalo::sim
