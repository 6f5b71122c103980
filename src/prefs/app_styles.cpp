#include "prefs/app_styles.h"

namespace tovalo {

namespace {

AppTheme resolve(AppTheme theme, AppTheme systemTheme) {
    if (theme != AppTheme::system) {
        return theme;
    }
    // The detected theme is never `system`; if it still is, light is the safe look.
    return systemTheme == AppTheme::dark ? AppTheme::dark : AppTheme::light;
}

}  // namespace

AppStyles::Palette AppStyles::palette(AppTheme theme, AppTheme systemTheme,
                                      OperatingSystemVersion osVersion) {
    return resolve(theme, systemTheme) == AppTheme::dark ? darkPalette() : lightPalette(osVersion);
}

AppStyles::Palette AppStyles::darkPalette() {
    const Color accent = Color::sRGB255(37, 140, 255);
    return Palette{
        .windowBackground = windowBackgroundColor(AppTheme::dark, AppTheme::dark),
        .secondaryBackground = Color::sRGB255(42, 42, 42),
        .settingsCardBackground = Color::sRGB255(46, 46, 46),
        .accentColor = accent,
        .secondaryTextColor = Color::sRGB255(176, 179, 184),
        .statusTextColor = Color::sRGB255(154, 160, 166),
        .cardDefaultBorderColor = Color::white(0.05),
        .cardHoverBorderColor = accent.multiplyingOpacity(0.25),
        .cardSelectionBorderColor = accent.multiplyingOpacity(0.4),
        .cardSelectionBackgroundColor = accent.multiplyingOpacity(0.15),
        .cardHoverBackgroundColor = Color::sRGB(0.2, 0.2, 0.2),
        .cardShadowColor = Color::black(0.3),
        .cardHoverShadowColor = Color::black(0.45),
        .selectionShadowColor = Color::black(0.4),
    };
}

AppStyles::Palette AppStyles::lightPalette(OperatingSystemVersion osVersion) {
    const Color accent = Color::sRGB255(0, 122, 255);
    const Color windowBackground = windowBackgroundColor(AppTheme::light, AppTheme::light);
    if (osVersion < kRefreshedLightPaletteVersion) {
        return Palette{
            .windowBackground = windowBackground,
            .secondaryBackground = Color::sRGB255(236, 240, 247),
            .settingsCardBackground = Color::sRGB255(250, 251, 255),
            .accentColor = accent,
            .secondaryTextColor = Color::systemSecondaryLabel(),
            .statusTextColor = Color::black(0.55),
            .cardDefaultBorderColor = Color::black(0.12),
            .cardHoverBorderColor = accent.multiplyingOpacity(0.25),
            .cardSelectionBorderColor = accent.multiplyingOpacity(0.45),
            .cardSelectionBackgroundColor = accent.multiplyingOpacity(0.18),
            .cardHoverBackgroundColor = accent.multiplyingOpacity(0.12),
            .cardShadowColor = Color::black(0.15),
            .cardHoverShadowColor = Color::black(0.22),
            .selectionShadowColor = accent.multiplyingOpacity(0.32),
        };
    }
    return Palette{
        .windowBackground = windowBackground,
        .secondaryBackground = Color::sRGB255(240, 243, 250),
        .settingsCardBackground = Color::white(),
        .accentColor = accent,
        .secondaryTextColor = Color::systemSecondaryLabel(),
        .statusTextColor = Color::black(0.55),
        .cardDefaultBorderColor = Color::black(0.09),
        .cardHoverBorderColor = accent.multiplyingOpacity(0.22),
        .cardSelectionBorderColor = accent.multiplyingOpacity(0.45),
        .cardSelectionBackgroundColor = accent.multiplyingOpacity(0.18),
        .cardHoverBackgroundColor = accent.multiplyingOpacity(0.11),
        .cardShadowColor = Color::black(0.12),
        .cardHoverShadowColor = Color::black(0.2),
        .selectionShadowColor = accent.multiplyingOpacity(0.3),
    };
}

Color AppStyles::windowBackgroundColor(AppTheme theme, AppTheme systemTheme) {
    if (resolve(theme, systemTheme) == AppTheme::dark) {
        return Color::calibratedRGB(34.0 / 255.0, 35.0 / 255.0, 40.0 / 255.0, 1.0);
    }
    return Color::calibratedRGB(246.0 / 255.0, 247.0 / 255.0, 250.0 / 255.0, 1.0);
}

Appearance AppStyles::appearance(AppTheme theme, AppTheme systemTheme) {
    return resolve(theme, systemTheme) == AppTheme::dark ? Appearance::dark : Appearance::light;
}

std::string AppStyles::firstAvailableSymbol(const std::vector<std::string>& candidates,
                                            std::string_view fallback,
                                            const SymbolLookup& symbols) {
    for (const auto& name : candidates) {
        if (symbols.hasSymbol(name)) {
            return name;
        }
    }
    return std::string(fallback);
}

}  // namespace tovalo
