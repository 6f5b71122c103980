#pragma once

// The catalogue of analytics event names: every event the program sends, as a named constant,
// so that senders cannot misspell one and the whole list can be checked in one place. A name is
// the area, " - ", then the action, both in title case; property keys are lower-case with
// underscores (window identifiers go as integers under "window_id").

#include <array>

namespace tovalo {

struct AnalyticsEvent {
    // Once per launch: "preferred_language" ("system", "en" or "zh-Hans"), "app_version",
    // "app_build".
    static constexpr const char* appLaunch = "App - Launch";
    static constexpr const char* appMainWindowShown = "App - Main Window Shown";
    // "item": "show_main_window", "quit", "select_window_to_pin" or "toggle_pinned_windows".
    static constexpr const char* statusBarMenuClick = "Status Bar Menu - Click";

    static constexpr const char* windowListPin = "Window List - Pin";
    static constexpr const char* windowListUnpin = "Window List - Unpin";

    static constexpr const char* selectionPin = "Selection - Pin";
    static constexpr const char* selectionUnpin = "Selection - Unpin";
    static constexpr const char* selectionCancelled = "Selection - Cancelled";

    static constexpr const char* navigationTabSelected = "Navigation - Tab Selected";

    // Timed: start it with AnalyticsTracker::startTimedEvent before loading.
    static constexpr const char* windowSnapshotThumbnailLoad = "Window Snapshot - Thumbnail Load";

    static constexpr const char* overlayCloseTapped = "Overlay - Close Tapped";
    static constexpr const char* overlayMenuToggled = "Overlay - Menu Toggled";
    static constexpr const char* overlayOpenMainWindow = "Overlay - Open Main Window";
    static constexpr const char* overlayActivationModeChanged = "Overlay - Activation Mode Changed";
    static constexpr const char* overlayButtonPositionChanged = "Overlay - Button Position Changed";
    static constexpr const char* overlayOpacityAdjusted = "Overlay - Opacity Adjusted";
    static constexpr const char* overlayAutoUnpinStarted = "Overlay - Auto Unpin Started";
    static constexpr const char* overlayAutoUnpinCancelled = "Overlay - Auto Unpin Cancelled";

    static constexpr const char* windowSnapshotDisplaySelected =
        "Window Snapshot - Display Selected";
    static constexpr const char* windowSnapshotDisplayChanged = "Window Snapshot - Display Changed";
    static constexpr const char* windowSnapshotWindowPickerTapped =
        "Window Snapshot - Window Picker Tapped";
    static constexpr const char* windowSnapshotRefreshTapped = "Window Snapshot - Refresh Tapped";
    static constexpr const char* windowSnapshotSnapshotToggled =
        "Window Snapshot - Snapshot Toggled";
    static constexpr const char* windowSnapshotPinApplied = "Window Snapshot - Pin Applied";
    static constexpr const char* windowSnapshotUnpinAll = "Window Snapshot - Unpin All";

    static constexpr const char* settingsAppearanceChanged = "Settings - Appearance Changed";
    static constexpr const char* settingsMenuBarIconToggled = "Settings - Menu Bar Icon Toggled";
    static constexpr const char* settingsOverlayOpacityAdjusted =
        "Settings - Overlay Opacity Adjusted";
    static constexpr const char* settingsActivationModeChanged =
        "Settings - Activation Mode Changed";
    static constexpr const char* settingsButtonPositionChanged =
        "Settings - Button Position Changed";
    static constexpr const char* settingsLaunchAtLoginToggled =
        "Settings - Launch at Login Toggled";
    static constexpr const char* settingsExcludedAppAdded = "Settings - Excluded App Added";
    static constexpr const char* settingsExcludedAppRemoved = "Settings - Excluded App Removed";
    static constexpr const char* settingsManageExcludedAppsTapped =
        "Settings - Manage Excluded Apps Tapped";

    static constexpr const char* permissionsOpenSystemSettings =
        "Permissions - Open System Settings";
    static constexpr const char* permissionsFooterLinkTapped = "Permissions - Footer Link Tapped";

    static constexpr const char* aboutUpdateMenuOpened = "About - Update Menu Opened";
    static constexpr const char* aboutAutoCheckToggled = "About - Auto Check Toggled";
    static constexpr const char* aboutAutoInstallToggled = "About - Auto Install Toggled";
    static constexpr const char* aboutCheckForUpdatesTapped = "About - Check for Updates Tapped";
    static constexpr const char* aboutFooterLinkTapped = "About - Footer Link Tapped";

    // Every name above, for checks over the whole catalogue.
    static constexpr std::array all = {
        appLaunch,
        appMainWindowShown,
        statusBarMenuClick,
        windowListPin,
        windowListUnpin,
        selectionPin,
        selectionUnpin,
        selectionCancelled,
        navigationTabSelected,
        windowSnapshotThumbnailLoad,
        overlayCloseTapped,
        overlayMenuToggled,
        overlayOpenMainWindow,
        overlayActivationModeChanged,
        overlayButtonPositionChanged,
        overlayOpacityAdjusted,
        overlayAutoUnpinStarted,
        overlayAutoUnpinCancelled,
        windowSnapshotDisplaySelected,
        windowSnapshotDisplayChanged,
        windowSnapshotWindowPickerTapped,
        windowSnapshotRefreshTapped,
        windowSnapshotSnapshotToggled,
        windowSnapshotPinApplied,
        windowSnapshotUnpinAll,
        settingsAppearanceChanged,
        settingsMenuBarIconToggled,
        settingsOverlayOpacityAdjusted,
        settingsActivationModeChanged,
        settingsButtonPositionChanged,
        settingsLaunchAtLoginToggled,
        settingsExcludedAppAdded,
        settingsExcludedAppRemoved,
        settingsManageExcludedAppsTapped,
        permissionsOpenSystemSettings,
        permissionsFooterLinkTapped,
        aboutUpdateMenuOpened,
        aboutAutoCheckToggled,
        aboutAutoInstallToggled,
        aboutCheckForUpdatesTapped,
        aboutFooterLinkTapped,
    };
};

}  // namespace tovalo
