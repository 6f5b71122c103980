#pragma once

// The application controller: the spine that prepares the process, configures everything in a
// fixed order while the application launches, pauses and resumes the pinned overlays with the
// system (sleep, screen lock, user switch, window overview), shows the main window on reopen and
// closes every pinned window when the program quits. It drives the status item, the global
// shortcuts, the main window and the updater through small interfaces. One instance lives for
// the whole process, built by the composition root; the platform backend calls its entry points.
// Everything runs on the main thread.

#include <memory>
#include <string>
#include <vector>

#include "app/global_shortcuts.h"
#include "app/main_menu.h"
#include "app/main_window_controller.h"
#include "app/pinning_commands.h"
#include "app/status_item_controller.h"
#include "app/update_controller.h"
#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "pinning/pinned_window_manager.h"
#include "platform/bundle_info.h"
#include "platform/operating_system_info.h"
#include "prefs/app_state.h"
#include "prefs/localization_manager.h"
#include "telemetry/analytics_tracker.h"
#include "telemetry/device_id_provider.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class AppDelegate : public std::enable_shared_from_this<AppDelegate> {
  public:
    struct Dependencies {
        // Required.
        std::shared_ptr<DispatchRuntime> runtime;
        // Carries the application-wide names; receives the suspend and resume posts.
        std::shared_ptr<NotificationCenter> defaultCenter;
        // Carries sleep, wake and the session switches.
        std::shared_ptr<NotificationCenter> workspaceCenter;
        // Carries the screen lock and the window overview.
        std::shared_ptr<NotificationCenter> distributedCenter;
        std::shared_ptr<PreferencesStore> preferences;
        std::shared_ptr<OperatingSystemInfo> operatingSystem;
        std::shared_ptr<BundleInfo> bundleInfo;
        std::shared_ptr<AppState> appState;
        std::shared_ptr<LocalizationManager> localization;
        std::shared_ptr<ErrorReporter> errorReporter;
        std::shared_ptr<AnalyticsTracker> analytics;
        std::shared_ptr<DeviceIDProvider> deviceIDProvider;
        std::shared_ptr<PinnedWindowManager> pinnedWindowManager;

        // The shell's parts. Each may be absent where the desktop (or this build) has no such
        // facility, for example no global menu bar; the steps that need an absent part are
        // skipped.
        std::shared_ptr<StatusItemController> statusItem;
        std::shared_ptr<GlobalShortcuts> shortcuts;
        std::shared_ptr<MainWindowController> mainWindow;
        std::shared_ptr<UpdateController> updates;
        std::shared_ptr<PinningCommands> pinningCommands;
        std::shared_ptr<MainMenu> mainMenu;
    };

    // The value of the debug line written once the launch steps are done.
    static constexpr const char* launchDebugMessage = "🚀 Tovalo App Starting...";
    // What a missing or non-text version string of the bundle is reported as.
    static constexpr const char* unknownVersion = "?";

    static std::shared_ptr<AppDelegate> create(Dependencies dependencies);

    // Removes every observer it registered: the main-window and theme observers, then the
    // lifecycle observers.
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // While the application object is being created: applies the start-up interface language
    // (the stored choice, English when there is none or it is unknown), keeps the desktop from
    // adding a full-screen item to the menus, and registers the three global shortcuts.
    void prepareApplication();

    // Before launching finishes: status item and its menu, the menu-bar icon switch, the
    // main-window and theme observers, and the preference observer of the shortcuts.
    void applicationWillFinishLaunching();
    // Runs `performLaunch`.
    void applicationDidFinishLaunching();

    // The launch steps: telemetry set up and attributed to the installation, "App - Launch",
    // the main window, the update checks, the main-menu cleanup and the lifecycle observers.
    // The telemetry start, "App - Launch" and the lifecycle observers happen once per process
    // even if this runs again.
    void performLaunch();

    // Closes every pinned window, stopping its capture, before the process ends.
    void applicationWillTerminate();

    // The program was reopened (launched again, or its launcher icon clicked): with no visible
    // window the main window is shown. Always true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

    // The commands the global shortcuts and other subsystems run through the delegate.
    void showMainWindow();
    void startSelectionFromShortcut();
    void togglePinnedWindows(const std::string& source);

    bool hasTrackedLaunchEvent() const { return hasTrackedLaunchEvent_; }
    // The lifecycle observers, four per centre once launched.
    std::size_t workspaceLifecycleObserverCount() const {
        return workspaceLifecycleObservers_.size();
    }
    std::size_t distributedLifecycleObserverCount() const {
        return distributedLifecycleObservers_.size();
    }

  private:
    explicit AppDelegate(Dependencies dependencies);

    void registerShortcuts();
    void observeThemeChanges();
    void logOperatingSystemVersion() const;
    std::string bundleString(const char* key) const;
    void removeViewMenu();
    void installLifecycleObservers();
    // Registers on `center` an observer of `systemEvent` (main queue, delegate held weakly) that
    // posts `announcement` on the default centre.
    ObserverToken relay(NotificationCenter& center, const char* systemEvent,
                        const char* announcement);

    Dependencies deps_;

    ObserverToken windowObserver_;
    ObserverToken themeObserver_;
    std::vector<ObserverToken> workspaceLifecycleObservers_;
    std::vector<ObserverToken> distributedLifecycleObservers_;
    bool hasTrackedLaunchEvent_ = false;
    // A second launch must not strip another top-level menu.
    bool hasRemovedViewMenu_ = false;
};

}  // namespace tovalo
