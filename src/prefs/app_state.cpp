#include "prefs/app_state.h"

#include "platform/system_notifications.h"
#include "prefs/notification_name.h"
#include "prefs/preferences.h"

namespace tovalo {

AppState::AppState(AppLanguage initialLanguage) : preferredLanguage_(initialLanguage) {}

std::shared_ptr<AppState> AppState::create(const PreferencesStore& store,
                                           NotificationCenter& defaultCenter) {
    const auto stored = Preferences::preferredLanguage(store);
    const auto language =
        stored ? parseAppLanguage(*stored).value_or(AppLanguage::system) : AppLanguage::system;
    std::shared_ptr<AppState> state(new AppState(language));
    state->subscribe(defaultCenter);
    return state;
}

void AppState::subscribe(NotificationCenter& defaultCenter) {
    std::weak_ptr<AppState> weak = weak_from_this();
    notificationCancellables_.push_back(defaultCenter.addObserver(
        SystemNotification::applicationDidBecomeActive, [weak](const Notification&) {
            if (auto self = weak.lock()) {
                self->snapshotRefreshTrigger_.set(Uuid::random());
            }
        }));
    notificationCancellables_.push_back(defaultCenter.addObserver(
        NotificationName::requestSnapshotRefresh, [weak](const Notification&) {
            if (auto self = weak.lock()) {
                self->forceSnapshotRefreshTrigger_.set(Uuid::random());
            }
        }));
}

}  // namespace tovalo
