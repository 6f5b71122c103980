#include "platform/sim/sim_desktop_appearance.h"

#include "platform/system_notifications.h"

namespace tovalo::sim {

SimDesktopAppearance::SimDesktopAppearance(std::shared_ptr<NotificationCenter> distributedCenter,
                                           Match initial)
    : distributedCenter_(std::move(distributedCenter)), match_(initial) {}

DesktopAppearance::Match SimDesktopAppearance::bestMatch() const {
    ++queries_;
    return match_.load();
}

void SimDesktopAppearance::setAppearance(Match match) {
    if (match_.exchange(match) == match) {
        return;
    }
    if (distributedCenter_) {
        distributedCenter_->post(SystemNotification::interfaceThemeChanged);
    }
}

}  // namespace tovalo::sim
