#pragma once

// Turns a theme into concrete looks: the toolkit appearance, the main window's background
// colour, the fourteen-colour palette, and the choice of an icon that exists on the running
// system. Stateless: the detected system theme (ThemeManager::currentSystemTheme) and the
// system facts come in as arguments, so `system` resolves the way the caller currently sees it.

#include <string>
#include <string_view>
#include <vector>

#include "platform/operating_system_info.h"
#include "platform/symbol_lookup.h"
#include "prefs/app_theme.h"
#include "prefs/appearance.h"
#include "prefs/color.h"
#include "prefs/palette.h"

namespace tovalo {

class AppStyles {
  public:
    using Palette = tovalo::Palette;

    // From this version on, the light palette uses its refreshed values.
    static constexpr OperatingSystemVersion kRefreshedLightPaletteVersion{26, 0, 0};

    AppStyles() = delete;

    // `system` follows `systemTheme` (dark gives the dark palette, anything else the light one);
    // the light palette depends on the operating-system version.
    static Palette palette(AppTheme theme, AppTheme systemTheme, OperatingSystemVersion osVersion);
    static Palette palette(AppTheme theme, AppTheme systemTheme, const OperatingSystemInfo& os) {
        return palette(theme, systemTheme, os.version());
    }
    static Palette darkPalette();
    static Palette lightPalette(OperatingSystemVersion osVersion);

    // Calibrated RGB (246, 247, 250) for light, (34, 35, 40) for dark; `system` follows
    // `systemTheme`.
    static Color windowBackgroundColor(AppTheme theme, AppTheme systemTheme);

    // `system` is dark only while `systemTheme` is dark.
    static Appearance appearance(AppTheme theme, AppTheme systemTheme);

    // The first of `candidates`, in order, that `symbols` knows; `fallback` when none is.
    static std::string firstAvailableSymbol(const std::vector<std::string>& candidates,
                                            std::string_view fallback, const SymbolLookup& symbols);
};

}  // namespace tovalo
