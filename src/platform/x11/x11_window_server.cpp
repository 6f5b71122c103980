#include "platform/x11/x11_window_server.h"

#include <algorithm>

#include "platform/x11/x11_application_identity.h"

namespace tovalo::x11 {

X11WindowServer::X11WindowServer(std::shared_ptr<const ClientWindowReader> reader,
                                 std::shared_ptr<const DesktopEntryIndex> index)
    : reader_(std::move(reader)), index_(std::move(index)) {}

ValueMap X11WindowServer::record(const ClientWindowInfo& window, const std::string& ownerName,
                                 bool isOnScreen) {
    ValueMap bounds{
        {"X", Value(window.bounds.origin.x)},
        {"Y", Value(window.bounds.origin.y)},
        {"Width", Value(window.bounds.size.width)},
        {"Height", Value(window.bounds.size.height)},
    };
    ValueMap result{
        {WindowInfoKey::number, Value(window.window)},
        {WindowInfoKey::ownerPID, Value(window.pid)},
        {WindowInfoKey::layer, Value(window.layer)},
        {WindowInfoKey::alpha, Value(window.alpha)},
        {WindowInfoKey::sharingState, Value(1)},
        {WindowInfoKey::memoryUsage, Value(0)},
        {WindowInfoKey::isOnscreen, Value(isOnScreen)},
        {WindowInfoKey::bounds, Value(std::move(bounds))},
    };
    if (window.title) {
        result[WindowInfoKey::name] = Value(*window.title);
    }
    if (!ownerName.empty()) {
        result[WindowInfoKey::ownerName] = Value(ownerName);
    }
    return result;
}

std::optional<ValueList> X11WindowServer::copyWindowInfo(WindowListOption options,
                                                         WindowID relativeToWindow) {
    const auto windows = reader_->clientWindowsFrontToBack();
    if (!windows) {
        return std::nullopt;
    }
    const bool including = (options & WindowListOptions::includingWindow) != 0;
    const bool above = (options & WindowListOptions::onScreenAboveWindow) != 0;
    const bool below = (options & WindowListOptions::onScreenBelowWindow) != 0;
    const bool onScreenOnly = (options & WindowListOptions::onScreenOnly) != 0;
    const bool excludeDesktop = (options & WindowListOptions::excludeDesktopElements) != 0;

    const auto relative = std::find(windows->begin(), windows->end(), relativeToWindow);
    const bool needsRelative = including || ((above || below) && relativeToWindow != kNullWindowID);
    if (needsRelative && relative == windows->end()) {
        return ValueList{};
    }
    const auto currentDesktop = reader_->currentDesktop();

    ValueList result;
    for (auto it = windows->begin(); it != windows->end(); ++it) {
        // Only the relative window is read for includingWindow alone: the common one-window
        // query stays cheap.
        if (including && !above && !below && it != relative) {
            continue;
        }
        const auto info = reader_->read(*it);
        if (!info) {
            continue;  // destroyed meanwhile
        }
        const bool onScreen = info->isOnScreen(currentDesktop);
        bool listed = false;
        if (above || below) {
            if (relativeToWindow == kNullWindowID) {
                listed = onScreen;
            } else if (it == relative) {
                listed = including;
            } else {
                const bool isAbove = it < relative;
                listed = onScreen && ((above && isAbove) || (below && !isAbove));
            }
        } else if (including) {
            listed = true;
        } else {
            listed = !onScreenOnly || onScreen;
        }
        if (listed && excludeDesktop && info->layer < 0) {
            listed = false;
        }
        if (listed) {
            const auto identity = ApplicationIdentity::resolve(*info, *index_);
            result.emplace_back(record(*info, identity.name, onScreen));
        }
    }
    return result;
}

}  // namespace tovalo::x11
