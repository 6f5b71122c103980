#include "platform/sim/sim_system_events.h"

#include "platform/system_notifications.h"

namespace tovalo::sim {

SimSystemEvents::SimSystemEvents(std::shared_ptr<NotificationCenter> defaultCenter)
    : defaultCenter_(std::move(defaultCenter)) {}

void SimSystemEvents::activateApplication() {
    defaultCenter_->post(SystemNotification::applicationDidBecomeActive);
}

void SimSystemEvents::changeCurrentLocale() {
    defaultCenter_->post(SystemNotification::currentLocaleDidChange);
}

}  // namespace tovalo::sim
