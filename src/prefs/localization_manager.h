#pragma once

// Applies the interface language to the process: the language override that looked-up texts
// follow ("AppleLanguages"), the shared AppState, and the "languagePreferenceDidChange"
// announcement on which every overlay rebuilds its texts. It re-applies the system language
// when the system locale changes, unless the user's stored choice pins a language. One instance
// lives for the whole process, built by the composition root; it is used on the main thread.

#include <memory>

#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "prefs/app_language.h"
#include "prefs/app_state.h"
#include "prefs/preference_key.h"

namespace tovalo {

class LocalizationManager : public std::enable_shared_from_this<LocalizationManager> {
  public:
    // The key holding the user's choice; the manager only reads it.
    static constexpr const char* preferenceKey = PreferenceKey::preferredLanguage;

    // Registers the system-locale observer on `defaultCenter`, delivered on the main queue of
    // `runtime` and doing nothing once the manager is released.
    static std::shared_ptr<LocalizationManager> create(
        std::shared_ptr<PreferencesStore> store, std::shared_ptr<NotificationCenter> defaultCenter,
        const DispatchRuntime& runtime, std::shared_ptr<AppState> appState);

    LocalizationManager(const LocalizationManager&) = delete;
    LocalizationManager& operator=(const LocalizationManager&) = delete;

    // The language start-up applies: the stored choice when it is one of the three raw values,
    // English otherwise (also when nothing is stored).
    static AppLanguage startupLanguage(const PreferencesStore& store);

    // Applies `startupLanguage` of the store; called once while the application starts.
    void applyStartupLanguage();

    // Makes `language` the effective interface language: writes or removes the override,
    // synchronises the store, updates AppState and posts "languagePreferenceDidChange" with the
    // AppLanguage value as the object.
    void apply(AppLanguage language);

    // The system locale changed: re-applies `system` unless "en" or "zh-Hans" is stored.
    void handleSystemLocaleChange();

  private:
    LocalizationManager(std::shared_ptr<PreferencesStore> store,
                        std::shared_ptr<NotificationCenter> defaultCenter,
                        std::shared_ptr<AppState> appState);

    std::shared_ptr<PreferencesStore> store_;
    std::shared_ptr<NotificationCenter> defaultCenter_;
    std::shared_ptr<AppState> appState_;
    ObserverToken systemLocaleObserver_;
};

}  // namespace tovalo
