#include "prefs/app_styles.h"

#include <gtest/gtest.h>

#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop_appearance.h"
#include "platform/sim/sim_operating_system_info.h"
#include "platform/sim/sim_symbol_lookup.h"
#include "prefs/app_palette_key.h"
#include "prefs/theme_manager.h"

namespace tovalo {
namespace {

constexpr OperatingSystemVersion kBefore26{15, 7, 0};
constexpr OperatingSystemVersion kFrom26{26, 0, 0};

Color rgb(double r, double g, double b) {
    return Color::sRGB255(r, g, b);
}
Color accentAt(const Color& accent, double opacity) {
    return accent.multiplyingOpacity(opacity);
}

void expectColor(const Color& actual, const Color& expected, const std::string& where) {
    EXPECT_EQ(actual.kind, expected.kind) << where;
    if (!expected.isSemantic()) {
        EXPECT_NEAR(actual.red, expected.red, 1e-9) << where;
        EXPECT_NEAR(actual.green, expected.green, 1e-9) << where;
        EXPECT_NEAR(actual.blue, expected.blue, 1e-9) << where;
    }
    EXPECT_NEAR(actual.opacity, expected.opacity, 1e-9) << where;
}

// The design table: one row per palette field, columns dark, light before 26, light from 26.
TEST(AppStylesTest, PalettesMatchTheDesignTable) {
    const Color darkAccent = rgb(37, 140, 255);
    const Color lightAccent = rgb(0, 122, 255);
    const Color secondaryLabel = Color::systemSecondaryLabel();
    const Color darkWindow = Color::calibratedRGB(34 / 255.0, 35 / 255.0, 40 / 255.0);
    const Color lightWindow = Color::calibratedRGB(246 / 255.0, 247 / 255.0, 250 / 255.0);
    struct Row {
        const char* field;
        Color Palette::*member;
        Color dark, lightBefore26, lightFrom26;
    };
    const std::vector<Row> rows{
        {"windowBackground", &Palette::windowBackground, darkWindow, lightWindow, lightWindow},
        {"secondaryBackground", &Palette::secondaryBackground, rgb(42, 42, 42), rgb(236, 240, 247),
         rgb(240, 243, 250)},
        {"settingsCardBackground", &Palette::settingsCardBackground, rgb(46, 46, 46),
         rgb(250, 251, 255), Color::white()},
        {"accentColor", &Palette::accentColor, darkAccent, lightAccent, lightAccent},
        {"secondaryTextColor", &Palette::secondaryTextColor, rgb(176, 179, 184), secondaryLabel,
         secondaryLabel},
        {"statusTextColor", &Palette::statusTextColor, rgb(154, 160, 166), Color::black(0.55),
         Color::black(0.55)},
        {"cardDefaultBorderColor", &Palette::cardDefaultBorderColor, Color::white(0.05),
         Color::black(0.12), Color::black(0.09)},
        {"cardHoverBorderColor", &Palette::cardHoverBorderColor, accentAt(darkAccent, 0.25),
         accentAt(lightAccent, 0.25), accentAt(lightAccent, 0.22)},
        {"cardSelectionBorderColor", &Palette::cardSelectionBorderColor, accentAt(darkAccent, 0.4),
         accentAt(lightAccent, 0.45), accentAt(lightAccent, 0.45)},
        {"cardSelectionBackgroundColor", &Palette::cardSelectionBackgroundColor,
         accentAt(darkAccent, 0.15), accentAt(lightAccent, 0.18), accentAt(lightAccent, 0.18)},
        {"cardHoverBackgroundColor", &Palette::cardHoverBackgroundColor, rgb(51, 51, 51),
         accentAt(lightAccent, 0.12), accentAt(lightAccent, 0.11)},
        {"cardShadowColor", &Palette::cardShadowColor, Color::black(0.3), Color::black(0.15),
         Color::black(0.12)},
        {"cardHoverShadowColor", &Palette::cardHoverShadowColor, Color::black(0.45),
         Color::black(0.22), Color::black(0.2)},
        {"selectionShadowColor", &Palette::selectionShadowColor, Color::black(0.4),
         accentAt(lightAccent, 0.32), accentAt(lightAccent, 0.3)},
    };
    ASSERT_EQ(rows.size(), 14u);
    const Palette dark = AppStyles::darkPalette();
    const Palette lightBefore = AppStyles::lightPalette(kBefore26);
    const Palette lightFrom = AppStyles::lightPalette(kFrom26);
    for (const auto& row : rows) {
        expectColor(dark.*row.member, row.dark, std::string(row.field) + " dark");
        expectColor(lightBefore.*row.member, row.lightBefore26,
                    std::string(row.field) + " light before 26");
        expectColor(lightFrom.*row.member, row.lightFrom26,
                    std::string(row.field) + " light from 26");
    }
}

TEST(AppStylesTest, LightPaletteSwitchesAtVersion26) {
    struct Case {
        OperatingSystemVersion version;
        bool refreshed;
    };
    const std::vector<Case> cases{
        {{15, 7, 3}, false}, {{25, 9, 9}, false}, {{26, 0, 0}, true},
        {{26, 0, 1}, true},  {{27, 0, 0}, true},
    };
    for (const auto& c : cases) {
        const sim::SimOperatingSystemInfo os(c.version);
        const Palette light = AppStyles::palette(AppTheme::light, AppTheme::dark, os);
        const auto where = std::to_string(c.version.majorVersion) + "." +
                           std::to_string(c.version.minorVersion) + "." +
                           std::to_string(c.version.patchVersion);
        expectColor(light.settingsCardBackground, c.refreshed ? Color::white() : rgb(250, 251, 255),
                    where);
        expectColor(light.cardDefaultBorderColor, Color::black(c.refreshed ? 0.09 : 0.12), where);
    }
}

TEST(AppStylesTest, SystemThemeResolvesThroughTheDetectedTheme) {
    struct Case {
        AppTheme theme;
        AppTheme systemTheme;
        Appearance appearance;
        bool darkPalette;
    };
    const std::vector<Case> cases{
        {AppTheme::light, AppTheme::dark, Appearance::light, false},
        {AppTheme::dark, AppTheme::light, Appearance::dark, true},
        {AppTheme::system, AppTheme::dark, Appearance::dark, true},
        {AppTheme::system, AppTheme::light, Appearance::light, false},
        // Never detected: the safe look is light.
        {AppTheme::system, AppTheme::system, Appearance::light, false},
    };
    for (const auto& c : cases) {
        const std::string where =
            std::string(rawValue(c.theme)) + " with system " + std::string(rawValue(c.systemTheme));
        const Palette palette = AppStyles::palette(c.theme, c.systemTheme, kFrom26);
        EXPECT_EQ(AppStyles::appearance(c.theme, c.systemTheme), c.appearance) << where;
        EXPECT_EQ(palette,
                  c.darkPalette ? AppStyles::darkPalette() : AppStyles::lightPalette(kFrom26))
            << where;
        EXPECT_EQ(AppStyles::windowBackgroundColor(c.theme, c.systemTheme),
                  palette.windowBackground)
            << where;
    }
}

TEST(AppStylesTest, FirstAvailableSymbolKeepsCandidateOrderAndFallsBack) {
    const std::vector<std::string> candidates{"rectangle.on.rectangle.dashed",
                                              "rectangle.on.rectangle", "square.on.square"};
    struct Case {
        std::vector<std::string> known;
        std::string expected;
    };
    const std::vector<Case> cases{
        {{}, "square"},
        {{"square.on.square", "rectangle.on.rectangle"}, "rectangle.on.rectangle"},
        {{"square.on.square"}, "square.on.square"},
        {{"rectangle.on.rectangle.dashed", "square.on.square"}, "rectangle.on.rectangle.dashed"},
    };
    for (const auto& c : cases) {
        sim::SimSymbolLookup symbols;
        for (const auto& name : c.known) {
            symbols.addSymbol(name);
        }
        EXPECT_EQ(AppStyles::firstAvailableSymbol(candidates, "square", symbols), c.expected);
    }
    EXPECT_EQ(AppStyles::firstAvailableSymbol({}, "unknown.fallback", sim::SimSymbolLookup{}),
              "unknown.fallback");
}

TEST(AppPaletteKeyTest, DefaultIsComputedOnFirstUseAndThenReused) {
    int computed = 0;
    AppPaletteKey key([&] {
        ++computed;
        return AppStyles::darkPalette();
    });
    EXPECT_EQ(computed, 0);
    const Palette& first = key.defaultValue();
    const Palette& second = key.defaultValue();
    EXPECT_EQ(computed, 1);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(first, AppStyles::darkPalette());
}

TEST(AppPaletteKeyTest, SystemDefaultKeepsTheThemeSeenAtFirstUse) {
    auto runtime = ManualDispatchRuntime::make();
    auto defaultCenter = std::make_shared<NotificationCenter>();
    auto distributedCenter = std::make_shared<NotificationCenter>("distributed");
    auto desktop = std::make_shared<sim::SimDesktopAppearance>(distributedCenter,
                                                               DesktopAppearance::Match::dark);
    auto os = std::make_shared<sim::SimOperatingSystemInfo>(kBefore26);
    auto manager = ThemeManager::create({.store = std::make_shared<InMemoryPreferencesStore>(),
                                         .defaultCenter = defaultCenter,
                                         .distributedCenter = distributedCenter,
                                         .runtime = runtime,
                                         .appearance = desktop});
    auto key = AppPaletteKey::forSystemTheme(manager, os);

    EXPECT_EQ(key->defaultValue(), AppStyles::darkPalette());
    desktop->setAppearance(DesktopAppearance::Match::light);
    runtime->runUntilIdle();
    ASSERT_EQ(manager->currentSystemTheme().get(), AppTheme::light);
    EXPECT_EQ(key->defaultValue(), AppStyles::darkPalette());
}

}  // namespace
}  // namespace tovalo
