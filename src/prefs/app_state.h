#pragma once

// The shared observable state of the interface: the selected main-window tab, the effective
// interface language and the two triggers on which the thumbnail screen reloads. One instance
// lives for the whole process, built by the composition root; views read it and subscribe to it
// on the main thread. Only the tab bar writes `selectedTab`, only the localization manager
// writes `preferredLanguage`, and only the state itself renews the triggers.

#include <memory>
#include <vector>

#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "base/published.h"
#include "base/uuid.h"
#include "prefs/app_language.h"
#include "prefs/tab_bar_type.h"

namespace tovalo {

class AppState : public std::enable_shared_from_this<AppState> {
  public:
    // Reads the stored "preferredLanguage" for the initial language and subscribes to
    // `defaultCenter`: becoming the active application renews `snapshotRefreshTrigger`,
    // "requestSnapshotRefresh" renews `forceSnapshotRefreshTrigger`. Both are delivered on the
    // posting thread and stop when the state is released.
    static std::shared_ptr<AppState> create(const PreferencesStore& store,
                                            NotificationCenter& defaultCenter);

    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // Initially `windowSnapshot`.
    Published<TabBarType>& selectedTab() { return selectedTab_; }
    // "en" stored gives `english`, "zh-Hans" `chinese`, anything else `system`.
    Published<AppLanguage>& preferredLanguage() { return preferredLanguage_; }
    // A fresh random value whenever the application becomes active.
    Published<Uuid>& snapshotRefreshTrigger() { return snapshotRefreshTrigger_; }
    // A fresh random value whenever the main window asks for a forced refresh.
    Published<Uuid>& forceSnapshotRefreshTrigger() { return forceSnapshotRefreshTrigger_; }

  private:
    explicit AppState(AppLanguage initialLanguage);
    void subscribe(NotificationCenter& defaultCenter);

    Published<TabBarType> selectedTab_{TabBarType::windowSnapshot};
    Published<AppLanguage> preferredLanguage_;
    Published<Uuid> snapshotRefreshTrigger_{Uuid::random()};
    Published<Uuid> forceSnapshotRefreshTrigger_{Uuid::random()};
    std::vector<ObserverToken> notificationCancellables_;
};

}  // namespace tovalo
