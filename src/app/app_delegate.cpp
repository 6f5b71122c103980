#include "app/app_delegate.h"

#include <utility>

#include "base/debug_log.h"
#include "platform/system_notifications.h"
#include "prefs/app_language.h"
#include "prefs/notification_name.h"
#include "prefs/preference_key.h"
#include "telemetry/analytics_event.h"

namespace tovalo {

AppDelegate::AppDelegate(Dependencies dependencies) : deps_(std::move(dependencies)) {}

std::shared_ptr<AppDelegate> AppDelegate::create(Dependencies dependencies) {
    return std::shared_ptr<AppDelegate>(new AppDelegate(std::move(dependencies)));
}

AppDelegate::~AppDelegate() {
    windowObserver_.reset();
    themeObserver_.reset();
    workspaceLifecycleObservers_.clear();
    distributedLifecycleObservers_.clear();
}

void AppDelegate::prepareApplication() {
    deps_.localization->applyStartupLanguage();
    deps_.preferences->setBool(PreferenceKey::fullScreenMenuItemEverywhere, false);
    registerShortcuts();
}

void AppDelegate::registerShortcuts() {
    if (!deps_.shortcuts) {
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    deps_.shortcuts->registerShortcut(ShortcutName::showMainWindow, [weak] {
        if (auto self = weak.lock()) {
            self->showMainWindow();
        }
    });
    deps_.shortcuts->registerShortcut(ShortcutName::toggleWindowUnderMouse, [weak] {
        if (auto self = weak.lock()) {
            self->togglePinnedWindows("shortcut");
        }
    });
    deps_.shortcuts->registerShortcut(ShortcutName::startWindowSelection, [weak] {
        if (auto self = weak.lock()) {
            self->startSelectionFromShortcut();
        }
    });
}

void AppDelegate::applicationWillFinishLaunching() {
    if (deps_.statusItem) {
        deps_.statusItem->configureStatusItem();
        deps_.statusItem->observeStatusBarIconToggle();
    }
    if (deps_.mainWindow) {
        windowObserver_ = deps_.mainWindow->observeWindowsBecomingKey();
    }
    observeThemeChanges();
    if (deps_.shortcuts) {
        deps_.shortcuts->observePreferenceChanges();
    }
}

void AppDelegate::observeThemeChanges() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    themeObserver_ =
        deps_.defaultCenter->addObserver(NotificationName::appThemeDidChange,
                                         deps_.runtime->mainQueue(), [weak](const Notification&) {
                                             auto self = weak.lock();
                                             if (self && self->deps_.mainWindow) {
                                                 self->deps_.mainWindow->applyThemeToMainWindow();
                                             }
                                         });
}

void AppDelegate::applicationDidFinishLaunching() {
    performLaunch();
}

void AppDelegate::performLaunch() {
    logOperatingSystemVersion();

    // Both facades start their client only once, however often this runs.
    deps_.errorReporter->start();
    deps_.analytics->configure();

    const std::string deviceID = deps_.deviceIDProvider->deviceID();
    const std::string appVersion = bundleString(BundleInfoKey::shortVersion);
    const std::string appBuild = bundleString(BundleInfoKey::version);

    deps_.analytics->identify(deviceID);
    deps_.errorReporter->setUser(deviceID, appVersion, appBuild);
    deps_.errorReporter->installExceptionHandler();

    if (!hasTrackedLaunchEvent_) {
        deps_.analytics->track(AnalyticsEvent::appLaunch,
                               {{"preferred_language",
                                 std::string(rawValue(deps_.appState->preferredLanguage().get()))},
                                {"app_version", appVersion},
                                {"app_build", appBuild}});
        hasTrackedLaunchEvent_ = true;
    }

    showMainWindow();
    if (deps_.updates) {
        deps_.updates->configureUpdatePreferences();
        deps_.updates->checkForUpdatesAtLaunch();
    }
    TOVALO_DEBUG_LOG("", launchDebugMessage);
    removeViewMenu();
    installLifecycleObservers();
}

void AppDelegate::logOperatingSystemVersion() const {
    const OperatingSystemVersion v = deps_.operatingSystem->version();
    TOVALO_DEBUG_LOG(
        "System",
        "OS version: " + std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion) +
            "." + std::to_string(v.patchVersion),
        {{"major", v.majorVersion}, {"minor", v.minorVersion}, {"patch", v.patchVersion}});
}

std::string AppDelegate::bundleString(const char* key) const {
    const auto value = deps_.bundleInfo->infoValue(key);
    if (!value) {
        return unknownVersion;
    }
    return value->asString().value_or(unknownVersion);
}

void AppDelegate::removeViewMenu() {
    if (!deps_.mainMenu || hasRemovedViewMenu_) {
        return;
    }
    deps_.mainMenu->removeViewMenu();
    hasRemovedViewMenu_ = true;
}

void AppDelegate::installLifecycleObservers() {
    // A second set would post every suspend and resume twice.
    if (!workspaceLifecycleObservers_.empty() || !distributedLifecycleObservers_.empty()) {
        return;
    }
    using namespace SystemNotification;
    const char* suspend = NotificationName::pinnedWindowsShouldSuspend;
    const char* resume = NotificationName::pinnedWindowsShouldResume;

    NotificationCenter& workspace = *deps_.workspaceCenter;
    workspaceLifecycleObservers_.push_back(relay(workspace, sessionDidResignActive, suspend));
    workspaceLifecycleObservers_.push_back(relay(workspace, willSleep, suspend));
    workspaceLifecycleObservers_.push_back(relay(workspace, sessionDidBecomeActive, resume));
    workspaceLifecycleObservers_.push_back(relay(workspace, didWake, resume));

    NotificationCenter& distributed = *deps_.distributedCenter;
    distributedLifecycleObservers_.push_back(relay(distributed, screenIsLocked, suspend));
    distributedLifecycleObservers_.push_back(relay(distributed, screenIsUnlocked, resume));
    distributedLifecycleObservers_.push_back(relay(distributed, windowOverviewShown, suspend));
    distributedLifecycleObservers_.push_back(relay(distributed, windowOverviewDismissed, resume));
}

ObserverToken AppDelegate::relay(NotificationCenter& center, const char* systemEvent,
                                 const char* announcement) {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    return center.addObserver(systemEvent, deps_.runtime->mainQueue(),
                              [weak, announcement](const Notification&) {
                                  if (auto self = weak.lock()) {
                                      self->deps_.defaultCenter->post(announcement);
                                  }
                              });
}

void AppDelegate::applicationWillTerminate() {
    deps_.pinnedWindowManager->closeAll();
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows) {
        showMainWindow();
    }
    return true;
}

void AppDelegate::showMainWindow() {
    if (deps_.mainWindow) {
        deps_.mainWindow->showMainWindow();
    }
}

void AppDelegate::startSelectionFromShortcut() {
    if (deps_.pinningCommands) {
        deps_.pinningCommands->startSelectionFromShortcut();
    }
}

void AppDelegate::togglePinnedWindows(const std::string& source) {
    if (deps_.pinningCommands) {
        deps_.pinningCommands->togglePinnedWindows(source);
    }
}

}  // namespace tovalo
