#pragma once

// Typed access to the program's preference keys. Every reader applies the key's default when
// the key is absent, holds a value of another type, or holds a string that is not one of the
// key's raw values; the writers store the representation the readers expect. Stateless: every
// call takes the store it works on.

#include <optional>
#include <string>
#include <vector>

#include "base/preferences_store.h"
#include "prefs/app_theme.h"
#include "prefs/overlay_activation_mode.h"
#include "prefs/overlay_button_position.h"

namespace tovalo {

namespace PreferenceDefault {

inline constexpr bool showMenuBarIcon = true;
inline constexpr double overlayOpacity = 1.0;
inline constexpr OverlayActivationMode overlayActivationMode = OverlayActivationMode::hover;
inline constexpr OverlayButtonPosition overlayButtonPosition = OverlayButtonPosition::topTrailing;
inline constexpr bool launchAtLogin = false;
inline constexpr AppTheme appTheme = AppTheme::system;
// Content size of the main window when no frame is stored; it opens centred.
inline constexpr double mainWindowWidth = 800.0;
inline constexpr double mainWindowHeight = 600.0;

}  // namespace PreferenceDefault

class Preferences {
  public:
    Preferences() = delete;

    static bool showMenuBarIcon(const PreferencesStore& store);
    // Clamped to 0.0–1.0; a stored NaN reads as the default.
    static double overlayOpacity(const PreferencesStore& store);
    static OverlayActivationMode overlayActivationMode(const PreferencesStore& store);
    static OverlayButtonPosition overlayButtonPosition(const PreferencesStore& store);
    static bool launchAtLogin(const PreferencesStore& store);
    static AppTheme appTheme(const PreferencesStore& store);
    // Empty when absent or when any element is not a string.
    static std::vector<std::string> snapshotExcludedAppBundleIDs(const PreferencesStore& store);
    // The stored rectangle string, unparsed; nullopt when absent.
    static std::optional<std::string> mainWindowFrame(const PreferencesStore& store);
    // The stored raw string, unparsed: start-up and the locale observer fall back differently.
    static std::optional<std::string> preferredLanguage(const PreferencesStore& store);
    static std::optional<std::vector<std::string>> appleLanguages(const PreferencesStore& store);

    static void setShowMenuBarIcon(PreferencesStore& store, bool show);
    static void setOverlayOpacity(PreferencesStore& store, double opacity);
    static void setOverlayActivationMode(PreferencesStore& store, OverlayActivationMode mode);
    static void setOverlayButtonPosition(PreferencesStore& store, OverlayButtonPosition position);
    static void setLaunchAtLogin(PreferencesStore& store, bool enabled);
    static void setAppTheme(PreferencesStore& store, AppTheme theme);
    static void setSnapshotExcludedAppBundleIDs(PreferencesStore& store,
                                                const std::vector<std::string>& bundleIDs);
    static void setMainWindowFrame(PreferencesStore& store, std::string frame);
};

}  // namespace tovalo
