#include "prefs/localization_manager.h"

#include "platform/system_notifications.h"
#include "prefs/notification_name.h"
#include "prefs/preferences.h"

namespace tovalo {

LocalizationManager::LocalizationManager(std::shared_ptr<PreferencesStore> store,
                                         std::shared_ptr<NotificationCenter> defaultCenter,
                                         std::shared_ptr<AppState> appState)
    : store_(std::move(store)),
      defaultCenter_(std::move(defaultCenter)),
      appState_(std::move(appState)) {}

std::shared_ptr<LocalizationManager> LocalizationManager::create(
    std::shared_ptr<PreferencesStore> store, std::shared_ptr<NotificationCenter> defaultCenter,
    const DispatchRuntime& runtime, std::shared_ptr<AppState> appState) {
    std::shared_ptr<LocalizationManager> manager(
        new LocalizationManager(std::move(store), defaultCenter, std::move(appState)));
    std::weak_ptr<LocalizationManager> weak = manager;
    manager->systemLocaleObserver_ =
        defaultCenter->addObserver(SystemNotification::currentLocaleDidChange, runtime.mainQueue(),
                                   [weak](const Notification&) {
                                       if (auto self = weak.lock()) {
                                           self->handleSystemLocaleChange();
                                       }
                                   });
    return manager;
}

AppLanguage LocalizationManager::startupLanguage(const PreferencesStore& store) {
    const auto stored = Preferences::preferredLanguage(store);
    return stored ? parseAppLanguage(*stored).value_or(AppLanguage::english) : AppLanguage::english;
}

void LocalizationManager::applyStartupLanguage() {
    apply(startupLanguage(*store_));
}

void LocalizationManager::apply(AppLanguage language) {
    if (auto languages = languageOverride(language)) {
        store_->setStringList(PreferenceKey::appleLanguages, *languages);
    } else {
        store_->remove(PreferenceKey::appleLanguages);
    }
    // A refused write stays in memory and is retried by the store's next write; the language
    // still applies to this run.
    store_->synchronize();
    appState_->preferredLanguage().set(language);
    defaultCenter_->post(NotificationName::languagePreferenceDidChange, language);
}

void LocalizationManager::handleSystemLocaleChange() {
    const auto stored = Preferences::preferredLanguage(*store_);
    const auto pinned = stored ? parseAppLanguage(*stored) : std::nullopt;
    if (pinned == AppLanguage::english || pinned == AppLanguage::chinese) {
        return;
    }
    apply(AppLanguage::system);
}

}  // namespace tovalo
