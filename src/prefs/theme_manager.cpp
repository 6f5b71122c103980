#include "prefs/theme_manager.h"

#include "platform/system_notifications.h"
#include "prefs/notification_name.h"
#include "prefs/preferences.h"

namespace tovalo {

ThemeManager::ThemeManager(Dependencies dependencies)
    : store_(std::move(dependencies.store)),
      defaultCenter_(std::move(dependencies.defaultCenter)),
      runtime_(std::move(dependencies.runtime)),
      appearance_(std::move(dependencies.appearance)) {}

std::shared_ptr<ThemeManager> ThemeManager::create(Dependencies dependencies) {
    auto distributedCenter = dependencies.distributedCenter;
    std::shared_ptr<ThemeManager> manager(new ThemeManager(std::move(dependencies)));
    manager->refreshSystemTheme();
    manager->observeAppearanceChanges(*distributedCenter);
    return manager;
}

void ThemeManager::observeAppearanceChanges(NotificationCenter& distributedCenter) {
    std::weak_ptr<ThemeManager> weak = weak_from_this();
    appearanceObserver_ = distributedCenter.addObserver(
        SystemNotification::interfaceThemeChanged, runtime_->mainQueue(),
        [weak, defaultCenter = defaultCenter_](const Notification&) {
            if (auto self = weak.lock()) {
                self->refreshSystemTheme();
            }
            // The main window re-applies its theme whether or not the manager is still there.
            defaultCenter->post(NotificationName::appThemeDidChange);
        });
}

AppTheme ThemeManager::effectiveTheme() {
    switch (Preferences::appTheme(*store_)) {
        case AppTheme::light:
            return AppTheme::light;
        case AppTheme::dark:
            return AppTheme::dark;
        case AppTheme::system:
            break;
    }
    const AppTheme detected = detectSystemTheme();
    publishIfChanged(detected);
    return detected;
}

void ThemeManager::refreshSystemTheme() {
    if (runtime_->isMainThread()) {
        currentSystemTheme_.set(detectSystemTheme());
        return;
    }
    std::weak_ptr<ThemeManager> weak = weak_from_this();
    runtime_->mainQueue()->async([weak] {
        if (auto self = weak.lock()) {
            self->currentSystemTheme_.set(self->detectSystemTheme());
        }
    });
}

AppTheme ThemeManager::detectSystemTheme() const {
    if (runtime_->isMainThread()) {
        return themeFromAppearance();
    }
    return runtime_->mainQueue()->sync([this] { return themeFromAppearance(); });
}

AppTheme ThemeManager::themeFromAppearance() const {
    switch (appearance_->bestMatch()) {
        case DesktopAppearance::Match::dark:
            return AppTheme::dark;
        case DesktopAppearance::Match::light:
        case DesktopAppearance::Match::none:
            return AppTheme::light;
    }
    return AppTheme::light;
}

// `currentSystemTheme` is main-thread state; a caller elsewhere gets its answer now and the
// published value follows in a later main-queue turn.
void ThemeManager::publishIfChanged(AppTheme theme) {
    auto publish = [theme](ThemeManager& self) {
        if (self.currentSystemTheme_.get() != theme) {
            self.currentSystemTheme_.set(theme);
        }
    };
    if (runtime_->isMainThread()) {
        publish(*this);
        return;
    }
    std::weak_ptr<ThemeManager> weak = weak_from_this();
    runtime_->mainQueue()->async([weak, publish] {
        if (auto self = weak.lock()) {
            publish(*self);
        }
    });
}

}  // namespace tovalo
