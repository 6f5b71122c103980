#pragma once

// Knows whether the desktop currently uses its light or its dark appearance and resolves the
// theme to paint with from the user's choice ("appTheme"). It follows the desktop's appearance
// change notification and then announces "appThemeDidChange". One instance lives for the whole
// process, built by the composition root; `currentSystemTheme` is written on the main thread
// only, and the calls that need it hop there.

#include <memory>

#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "base/published.h"
#include "platform/desktop_appearance.h"
#include "prefs/app_theme.h"

namespace tovalo {

class ThemeManager : public std::enable_shared_from_this<ThemeManager> {
  public:
    // All required.
    struct Dependencies {
        std::shared_ptr<PreferencesStore> store;
        // Receives "appThemeDidChange".
        std::shared_ptr<NotificationCenter> defaultCenter;
        // Carries the desktop's appearance change.
        std::shared_ptr<NotificationCenter> distributedCenter;
        std::shared_ptr<DispatchRuntime> runtime;
        std::shared_ptr<DesktopAppearance> appearance;
    };

    // Detects the system theme at once and starts observing the desktop's appearance change
    // (delivered on the main queue); the observer is removed when the manager is released.
    static std::shared_ptr<ThemeManager> create(Dependencies dependencies);

    ThemeManager(const ThemeManager&) = delete;
    ThemeManager& operator=(const ThemeManager&) = delete;

    // The detected system theme: `light` or `dark` (`light` until first detected).
    Published<AppTheme>& currentSystemTheme() { return currentSystemTheme_; }

    // The theme to paint with now, `light` or `dark`: the stored choice, or the detected system
    // theme when the choice is "system" (or unrecognised). A detected value that differs from
    // `currentSystemTheme` is published.
    AppTheme effectiveTheme();

    // Re-detects and publishes `currentSystemTheme`: at once on the main thread, otherwise in a
    // later main-queue turn (nothing then happens if the manager is gone by then).
    void refreshSystemTheme();

    // Asks the desktop for its appearance on the main thread, waiting for the main queue when
    // called elsewhere. The caller must not be something the main thread waits on.
    AppTheme detectSystemTheme() const;

  private:
    explicit ThemeManager(Dependencies dependencies);
    void observeAppearanceChanges(NotificationCenter& distributedCenter);
    AppTheme themeFromAppearance() const;
    void publishIfChanged(AppTheme theme);

    std::shared_ptr<PreferencesStore> store_;
    std::shared_ptr<NotificationCenter> defaultCenter_;
    std::shared_ptr<DispatchRuntime> runtime_;
    std::shared_ptr<DesktopAppearance> appearance_;
    Published<AppTheme> currentSystemTheme_{AppTheme::light};
    ObserverToken appearanceObserver_;
};

}  // namespace tovalo
