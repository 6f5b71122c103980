#pragma once

// The application-wide notification names, posted on the default notification centre. Senders
// and observers share these constants; none is redefined elsewhere.

namespace tovalo {

namespace NotificationName {

// The "Show in Menu Bar" switch changed; user information "show" (Boolean, key
// `showUserInfoKey`).
inline constexpr const char* toggleStatusBarIcon = "toggleStatusBarIcon";
inline constexpr const char* showUserInfoKey = "show";
// The main window was brought up; the thumbnail screen must reload.
inline constexpr const char* requestSnapshotRefresh = "requestSnapshotRefresh";
// The effective appearance may have changed; the main window re-applies its theme.
inline constexpr const char* appThemeDidChange = "appThemeDidChange";
// "snapshotExcludedAppBundleIDs" was rewritten.
inline constexpr const char* excludedAppsDidChange = "excludedAppsDidChange";
// Sleep, screen lock, user switched away or window overview shown: overlays pause.
inline constexpr const char* pinnedWindowsShouldSuspend = "pinnedWindowsShouldSuspend";
// Wake, screen unlock, user switched back or window overview dismissed: overlays resume.
inline constexpr const char* pinnedWindowsShouldResume = "pinnedWindowsShouldResume";
// An interface language was applied; object: the applied AppLanguage value.
inline constexpr const char* languagePreferenceDidChange = "languagePreferenceDidChange";

}  // namespace NotificationName

}  // namespace tovalo
