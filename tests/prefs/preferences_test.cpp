#include "prefs/preferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/in_memory_preferences_store.h"
#include "prefs/app_language.h"
#include "prefs/preference_key.h"
#include "prefs/tab_bar_type.h"

namespace tovalo {
namespace {

using Reader = std::function<Value(const PreferencesStore&)>;

Value optionalString(const std::optional<std::string>& s) {
    return s ? Value(*s) : Value();
}

// Every typed reader, keyed by its preference key, with its result as a Value so one table can
// hold them all.
const std::map<std::string, Reader>& readers() {
    static const std::map<std::string, Reader> table{
        {PreferenceKey::showMenuBarIcon,
         [](const auto& s) { return Value(Preferences::showMenuBarIcon(s)); }},
        {PreferenceKey::overlayOpacity,
         [](const auto& s) { return Value(Preferences::overlayOpacity(s)); }},
        {PreferenceKey::overlayActivationMode,
         [](const auto& s) {
             return Value(std::string(rawValue(Preferences::overlayActivationMode(s))));
         }},
        {PreferenceKey::overlayButtonPosition,
         [](const auto& s) {
             return Value(std::string(rawValue(Preferences::overlayButtonPosition(s))));
         }},
        {PreferenceKey::launchAtLogin,
         [](const auto& s) { return Value(Preferences::launchAtLogin(s)); }},
        {PreferenceKey::appTheme,
         [](const auto& s) { return Value(std::string(rawValue(Preferences::appTheme(s)))); }},
        {PreferenceKey::snapshotExcludedAppBundleIDs,
         [](const auto& s) {
             return Value::stringList(Preferences::snapshotExcludedAppBundleIDs(s));
         }},
        {PreferenceKey::mainWindowFrame,
         [](const auto& s) { return optionalString(Preferences::mainWindowFrame(s)); }},
        {PreferenceKey::preferredLanguage,
         [](const auto& s) { return optionalString(Preferences::preferredLanguage(s)); }},
    };
    return table;
}

TEST(PreferencesTest, FreshStoreReadsEveryDefaultWithoutWritingAnything) {
    const std::map<std::string, Value> expected{
        {"showMenuBarIcon", Value(true)},
        {"overlayOpacity", Value(1.0)},
        {"overlayActivationMode", Value("hover")},
        {"overlayButtonPosition", Value("topTrailing")},
        {"launchAtLogin", Value(false)},
        {"appTheme", Value("system")},
        {"snapshotExcludedAppBundleIDs", Value::stringList({})},
        {"mainWindowFrame", Value()},
        {"preferredLanguage", Value()},
    };
    InMemoryPreferencesStore store;
    ASSERT_EQ(readers().size(), expected.size());
    for (const auto& [key, value] : expected) {
        ASSERT_TRUE(readers().contains(key)) << key;
        EXPECT_EQ(readers().at(key)(store), value) << key;
    }
    EXPECT_FALSE(Preferences::appleLanguages(store).has_value());
    EXPECT_TRUE(store.snapshot().empty()) << "readers must not register defaults";
}

TEST(PreferencesTest, UnrecognisedOrMistypedValuesReadAsTheDefault) {
    struct Case {
        const char* key;
        Value stored;
        Value expected;
    };
    const std::vector<Case> cases{
        {PreferenceKey::overlayActivationMode, Value("sideways"), Value("hover")},
        {PreferenceKey::overlayActivationMode, Value("Click"), Value("hover")},
        {PreferenceKey::overlayActivationMode, Value(1), Value("hover")},
        {PreferenceKey::overlayButtonPosition, Value("middle"), Value("topTrailing")},
        {PreferenceKey::overlayButtonPosition, Value(""), Value("topTrailing")},
        {PreferenceKey::appTheme, Value("sepia"), Value("system")},
        {PreferenceKey::appTheme, Value(true), Value("system")},
        {PreferenceKey::showMenuBarIcon, Value("no"), Value(true)},
        {PreferenceKey::launchAtLogin, Value("yes"), Value(false)},
        {PreferenceKey::overlayOpacity, Value("0.5"), Value(1.0)},
        {PreferenceKey::overlayOpacity, Value(std::nan("")), Value(1.0)},
        {PreferenceKey::snapshotExcludedAppBundleIDs, Value(ValueList{Value("a"), Value(2)}),
         Value::stringList({})},
        {PreferenceKey::snapshotExcludedAppBundleIDs, Value("com.example.app"),
         Value::stringList({})},
        {PreferenceKey::mainWindowFrame, Value(42), Value()},
    };
    for (const auto& c : cases) {
        InMemoryPreferencesStore store;
        store.set(c.key, c.stored);
        EXPECT_EQ(readers().at(c.key)(store), c.expected)
            << c.key << " = " << c.stored.debugDescription();
    }
}

TEST(PreferencesTest, OpacityOutsideItsRangeIsClamped) {
    const std::vector<std::pair<Value, double>> cases{
        {Value(0.4), 0.4}, {Value(0), 0.0}, {Value(2.5), 1.0}, {Value(-1), 0.0}};
    for (const auto& [stored, expected] : cases) {
        InMemoryPreferencesStore store;
        store.set(PreferenceKey::overlayOpacity, stored);
        EXPECT_EQ(Preferences::overlayOpacity(store), expected) << stored.debugDescription();
    }
}

TEST(PreferencesTest, WritersStoreWhatReadersUnderstand) {
    InMemoryPreferencesStore store;
    Preferences::setShowMenuBarIcon(store, false);
    Preferences::setOverlayOpacity(store, 0.35);
    Preferences::setOverlayActivationMode(store, OverlayActivationMode::none);
    Preferences::setOverlayButtonPosition(store, OverlayButtonPosition::bottomLeading);
    Preferences::setLaunchAtLogin(store, true);
    Preferences::setAppTheme(store, AppTheme::dark);
    Preferences::setSnapshotExcludedAppBundleIDs(store, {"com.a", "com.b"});
    Preferences::setMainWindowFrame(store, "{{10, 20}, {800, 600}}");

    EXPECT_FALSE(Preferences::showMenuBarIcon(store));
    EXPECT_EQ(Preferences::overlayOpacity(store), 0.35);
    EXPECT_EQ(Preferences::overlayActivationMode(store), OverlayActivationMode::none);
    EXPECT_EQ(Preferences::overlayButtonPosition(store), OverlayButtonPosition::bottomLeading);
    EXPECT_TRUE(Preferences::launchAtLogin(store));
    EXPECT_EQ(Preferences::appTheme(store), AppTheme::dark);
    EXPECT_EQ(Preferences::snapshotExcludedAppBundleIDs(store),
              (std::vector<std::string>{"com.a", "com.b"}));
    EXPECT_EQ(Preferences::mainWindowFrame(store), "{{10, 20}, {800, 600}}");
    // The stored representation is the raw string other components and earlier runs use.
    EXPECT_EQ(store.stringValue("overlayButtonPosition"), "bottomLeading");
}

template <typename Enum, std::size_t N, typename Parse>
void expectRawValues(const std::array<Enum, N>& all, const std::vector<std::string>& raws,
                     Parse parse) {
    ASSERT_EQ(all.size(), raws.size());
    for (std::size_t i = 0; i < N; ++i) {
        EXPECT_EQ(rawValue(all[i]), raws[i]);
        EXPECT_EQ(parse(raws[i]), all[i]) << raws[i];
    }
    EXPECT_EQ(parse("unknown"), std::nullopt);
    EXPECT_EQ(parse(""), std::nullopt);
}

TEST(RawValueTest, EveryCaseRoundTripsInDeclaredOrderAndOthersDoNotParse) {
    expectRawValues(kAllOverlayActivationModes, {"hover", "click", "none"},
                    parseOverlayActivationMode);
    expectRawValues(kAllOverlayButtonPositions,
                    {"topLeading", "topTrailing", "bottomLeading", "bottomTrailing"},
                    parseOverlayButtonPosition);
    expectRawValues(kAllAppThemes, {"system", "light", "dark"}, parseAppTheme);
    expectRawValues(kAllAppLanguages, {"system", "en", "zh-Hans"}, parseAppLanguage);
}

TEST(RawValueTest, TabBarTypesAreNumberedInTabOrder) {
    ASSERT_EQ(kAllTabBarTypes.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const auto tab = kAllTabBarTypes[static_cast<std::size_t>(i)];
        EXPECT_EQ(rawValue(tab), i);
        EXPECT_EQ(parseTabBarType(i), tab);
    }
    EXPECT_EQ(kAllTabBarTypes.front(), TabBarType::windowSnapshot);
    EXPECT_EQ(kAllTabBarTypes.back(), TabBarType::about);
    EXPECT_EQ(parseTabBarType(3), std::nullopt);
    EXPECT_EQ(parseTabBarType(-1), std::nullopt);
}

TEST(RawValueTest, LanguagesNameTheirLocaleAndOverride) {
    EXPECT_EQ(localeIdentifier(AppLanguage::system), std::nullopt);
    EXPECT_EQ(localeIdentifier(AppLanguage::english), "en");
    EXPECT_EQ(localeIdentifier(AppLanguage::chinese), "zh-Hans");
    EXPECT_EQ(languageOverride(AppLanguage::system), std::nullopt);
    EXPECT_EQ(languageOverride(AppLanguage::english), (std::vector<std::string>{"en"}));
    EXPECT_EQ(languageOverride(AppLanguage::chinese), (std::vector<std::string>{"zh-Hans"}));
}

}  // namespace
}  // namespace tovalo
