#pragma once

// Every key the program reads or writes in the preferences store. Types and defaults are those
// of the typed readers in preferences.h; no default is registered with the store, so an absent
// key always means "use the reader's default".

namespace tovalo {

namespace PreferenceKey {

// Boolean, default true.
inline constexpr const char* showMenuBarIcon = "showMenuBarIcon";
// Floating point 0.0–1.0, default 1.0.
inline constexpr const char* overlayOpacity = "overlayOpacity";
// Raw value of OverlayActivationMode, default "hover".
inline constexpr const char* overlayActivationMode = "overlayActivationMode";
// Raw value of OverlayButtonPosition, default "topTrailing".
inline constexpr const char* overlayButtonPosition = "overlayButtonPosition";
// Boolean, default false.
inline constexpr const char* launchAtLogin = "launchAtLogin";
// Raw value of AppTheme, default "system".
inline constexpr const char* appTheme = "appTheme";
// List of application bundle identifiers, default empty.
inline constexpr const char* snapshotExcludedAppBundleIDs = "snapshotExcludedAppBundleIDs";
// Rectangle string "{{x, y}, {w, h}}": the main window's content rectangle; absent by default.
inline constexpr const char* mainWindowFrame = "mainWindowFrame";
// "system", "en" or "zh-Hans"; absent by default and never written by the program.
inline constexpr const char* preferredLanguage = "preferredLanguage";
// List of language identifiers: the language override that looked-up texts follow. Written
// with ["en"] or ["zh-Hans"], or removed, by the localization manager.
inline constexpr const char* appleLanguages = "AppleLanguages";
// Boolean; set to false at every start.
inline constexpr const char* fullScreenMenuItemEverywhere = "NSFullScreenMenuItemEverywhere";
// UUID text made up when no hardware identifier is available; absent by default.
inline constexpr const char* fallbackDeviceUuid = "tovalo_fallback_device_uuid";

}  // namespace PreferenceKey

}  // namespace tovalo
