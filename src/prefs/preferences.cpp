#include "prefs/preferences.h"

#include <algorithm>
#include <cmath>

#include "prefs/preference_key.h"

namespace tovalo {

bool Preferences::showMenuBarIcon(const PreferencesStore& store) {
    return store.boolValue(PreferenceKey::showMenuBarIcon)
        .value_or(PreferenceDefault::showMenuBarIcon);
}

double Preferences::overlayOpacity(const PreferencesStore& store) {
    const auto stored = store.doubleValue(PreferenceKey::overlayOpacity);
    if (!stored || std::isnan(*stored)) {
        return PreferenceDefault::overlayOpacity;
    }
    // Out-of-range values would make the overlay invisible or undefined to draw.
    return std::clamp(*stored, 0.0, 1.0);
}

OverlayActivationMode Preferences::overlayActivationMode(const PreferencesStore& store) {
    const auto raw = store.stringValue(PreferenceKey::overlayActivationMode);
    return raw ? parseOverlayActivationMode(*raw).value_or(PreferenceDefault::overlayActivationMode)
               : PreferenceDefault::overlayActivationMode;
}

OverlayButtonPosition Preferences::overlayButtonPosition(const PreferencesStore& store) {
    const auto raw = store.stringValue(PreferenceKey::overlayButtonPosition);
    return raw ? parseOverlayButtonPosition(*raw).value_or(PreferenceDefault::overlayButtonPosition)
               : PreferenceDefault::overlayButtonPosition;
}

bool Preferences::launchAtLogin(const PreferencesStore& store) {
    return store.boolValue(PreferenceKey::launchAtLogin).value_or(PreferenceDefault::launchAtLogin);
}

AppTheme Preferences::appTheme(const PreferencesStore& store) {
    const auto raw = store.stringValue(PreferenceKey::appTheme);
    return raw ? parseAppTheme(*raw).value_or(PreferenceDefault::appTheme)
               : PreferenceDefault::appTheme;
}

std::vector<std::string> Preferences::snapshotExcludedAppBundleIDs(const PreferencesStore& store) {
    return store.stringList(PreferenceKey::snapshotExcludedAppBundleIDs)
        .value_or(std::vector<std::string>{});
}

std::optional<std::string> Preferences::mainWindowFrame(const PreferencesStore& store) {
    return store.stringValue(PreferenceKey::mainWindowFrame);
}

std::optional<std::string> Preferences::preferredLanguage(const PreferencesStore& store) {
    return store.stringValue(PreferenceKey::preferredLanguage);
}

std::optional<std::vector<std::string>> Preferences::appleLanguages(const PreferencesStore& store) {
    return store.stringList(PreferenceKey::appleLanguages);
}

void Preferences::setShowMenuBarIcon(PreferencesStore& store, bool show) {
    store.setBool(PreferenceKey::showMenuBarIcon, show);
}

void Preferences::setOverlayOpacity(PreferencesStore& store, double opacity) {
    store.setDouble(PreferenceKey::overlayOpacity, opacity);
}

void Preferences::setOverlayActivationMode(PreferencesStore& store, OverlayActivationMode mode) {
    store.setString(PreferenceKey::overlayActivationMode, std::string(rawValue(mode)));
}

void Preferences::setOverlayButtonPosition(PreferencesStore& store,
                                           OverlayButtonPosition position) {
    store.setString(PreferenceKey::overlayButtonPosition, std::string(rawValue(position)));
}

void Preferences::setLaunchAtLogin(PreferencesStore& store, bool enabled) {
    store.setBool(PreferenceKey::launchAtLogin, enabled);
}

void Preferences::setAppTheme(PreferencesStore& store, AppTheme theme) {
    store.setString(PreferenceKey::appTheme, std::string(rawValue(theme)));
}

void Preferences::setSnapshotExcludedAppBundleIDs(PreferencesStore& store,
                                                  const std::vector<std::string>& bundleIDs) {
    store.setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, bundleIDs);
}

void Preferences::setMainWindowFrame(PreferencesStore& store, std::string frame) {
    store.setString(PreferenceKey::mainWindowFrame, std::move(frame));
}

}  // namespace tovalo
