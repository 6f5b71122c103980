// Start-up of the program: the exact order of the calls across preparing the application,
// will-finish-launching and the launch steps; the interface language chosen at start; the version
// strings reported; and the steps that must happen only once.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/app_harness.h"
#include "base/value.h"
#include "platform/bundle_info.h"
#include "prefs/app_language.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

std::vector<std::string> expectedStartupCalls() {
    std::vector<std::string> calls = {
        // Preparing the application.
        "prefs.set AppleLanguages",
        "language.applied en",
        "prefs.set NSFullScreenMenuItemEverywhere",
        "shortcuts.register showMainWindow",
        "shortcuts.register toggleWindowUnderMouse",
        "shortcuts.register startWindowSelection",
        // Will finish launching.
        "statusItem.configure",
        "statusItem.observeIconToggle",
        "mainWindow.observeWindowsBecomingKey",
        "shortcuts.observePreferenceChanges",
        // The launch steps.
        "os.version",
#ifndef TOVALO_NO_DEBUG_LOG
        "log [System] OS version: 14.2.1 major=14 minor=2 patch=1",
#endif
        "errorReporting.start",
        "analytics.initialize",
        "analytics.logging off",
        "hardware.platformUuid",
        "bundle CFBundleShortVersionString",
        "bundle CFBundleVersion",
        "analytics.identify",
        "errorReporting.setUser",
        "exceptionHooks.setHandler",
        "analytics.track App - Launch",
        "mainWindow.show",
        "updates.configure",
        "updates.checkAtLaunch",
#ifndef TOVALO_NO_DEBUG_LOG
        "log 🚀 Tovalo App Starting...",
#endif
    };
    return calls;
}

TEST(AppStartupTest, BuildingTheGraphStartsNothing) {
    AppHarness app;
    app.build();

    EXPECT_EQ(app.journal->calls(), std::vector<std::string>{});
    EXPECT_FALSE(app.root->errorReporter()->isStarted());
    EXPECT_FALSE(app.root->analytics()->isConfigured());
    EXPECT_FALSE(app.delegate().hasTrackedLaunchEvent());
}

TEST(AppStartupTest, RunsEveryStartupStepInTheDocumentedOrder) {
    AppHarness app;
    app.launch();

    EXPECT_EQ(app.journal->calls(), expectedStartupCalls());
    // The last two steps leave no call behind: the View menu is gone and the lifecycle
    // observers are in place.
    std::vector<std::string> menuTitles;
    for (const auto& item : app.mainMenu->items()) {
        menuTitles.push_back(item.title);
    }
    EXPECT_EQ(menuTitles, (std::vector<std::string>{"Tovalo", "Edit", "Window", "Help"}));
    EXPECT_EQ(app.delegate().workspaceLifecycleObserverCount(), 4u);
    EXPECT_EQ(app.delegate().distributedLifecycleObserverCount(), 4u);
}

TEST(AppStartupTest, TelemetryIsStartedAndAttributedToTheInstallation) {
    AppHarness app;
    app.launch();

    const auto starts = app.errorClient->starts();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts.front().dsn, AppHarness::kDsn);
    const auto initializations = app.analyticsClient->initializations();
    ASSERT_EQ(initializations.size(), 1u);
    EXPECT_EQ(initializations.front().token, AppHarness::kAnalyticsToken);

    const std::string deviceID = app.root->deviceIDProvider()->deviceID();
    EXPECT_EQ(app.analyticsClient->identifications(), std::vector<std::string>{deviceID});
    const auto user = app.errorClient->user();
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->userId, deviceID);
    EXPECT_EQ(user->email, std::nullopt);
    EXPECT_EQ(user->username, std::nullopt);
    EXPECT_EQ(user->data, (ValueMap{{"app_version", "1.0.0"}, {"app_build", "1"}}));
    // The installed handler reports an uncaught exception.
    EXPECT_TRUE(app.hooks->raise({"std::logic_error", "broken", {}, std::nullopt}));
    ASSERT_EQ(app.errorClient->reports().size(), 1u);
}

struct LanguageCase {
    const char* name;
    std::optional<std::string> stored;
    AppLanguage applied;
    std::optional<std::vector<std::string>> languageOverride;

    friend void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }
};

class StartupLanguageTest : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(StartupLanguageTest, AppliesTheStoredChoiceOrEnglishAndReportsIt) {
    const LanguageCase& c = GetParam();
    AppHarness app;
    if (c.stored) {
        app.store->setString(PreferenceKey::preferredLanguage, *c.stored);
    }
    app.launch();

    EXPECT_EQ(app.root->appState()->preferredLanguage().get(), c.applied);
    EXPECT_EQ(app.store->stringList(PreferenceKey::appleLanguages), c.languageOverride);
    const auto launches = app.launchEvents();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches.front().properties.at("preferred_language"),
              Value(std::string(rawValue(c.applied))));
    // The stored choice is only read.
    EXPECT_EQ(app.store->stringValue(PreferenceKey::preferredLanguage), c.stored);
    EXPECT_EQ(app.store->boolValue(PreferenceKey::fullScreenMenuItemEverywhere), false);
}

INSTANTIATE_TEST_SUITE_P(
    StoredChoices, StartupLanguageTest,
    ::testing::Values(LanguageCase{"NothingStored", std::nullopt, AppLanguage::english,
                                   std::vector<std::string>{"en"}},
                      LanguageCase{"Chinese", "zh-Hans", AppLanguage::chinese,
                                   std::vector<std::string>{"zh-Hans"}},
                      LanguageCase{"English", "en", AppLanguage::english,
                                   std::vector<std::string>{"en"}},
                      LanguageCase{"System", "system", AppLanguage::system, std::nullopt},
                      LanguageCase{"UnknownFallsBackToEnglish", "fr", AppLanguage::english,
                                   std::vector<std::string>{"en"}}),
    [](const auto& testParam) { return std::string(testParam.param.name); });

struct BundleCase {
    const char* name;
    std::optional<Value> shortVersion;
    std::optional<Value> build;
    std::string reportedVersion;
    std::string reportedBuild;

    friend void PrintTo(const BundleCase& c, std::ostream* os) { *os << c.name; }
};

class BundleVersionTest : public ::testing::TestWithParam<BundleCase> {};

TEST_P(BundleVersionTest, ReportsMissingOrNonTextVersionsAsQuestionMarks) {
    const BundleCase& c = GetParam();
    AppHarness app;
    const auto setOrRemove = [&app](const char* key, const std::optional<Value>& value) {
        if (value) {
            app.desktop->bundleInfo()->setInfoValue(key, *value);
        } else {
            app.desktop->bundleInfo()->removeInfoValue(key);
        }
    };
    setOrRemove(BundleInfoKey::shortVersion, c.shortVersion);
    setOrRemove(BundleInfoKey::version, c.build);
    app.launch();

    const ValueMap expected{{"app_version", c.reportedVersion}, {"app_build", c.reportedBuild}};
    const auto launches = app.launchEvents();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches.front().properties.at("app_version"), Value(c.reportedVersion));
    EXPECT_EQ(launches.front().properties.at("app_build"), Value(c.reportedBuild));
    ASSERT_TRUE(app.errorClient->user().has_value());
    EXPECT_EQ(app.errorClient->user()->data, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BundleVersionTest,
    ::testing::Values(BundleCase{"BothPresent", Value("2.3.1"), Value("45"), "2.3.1", "45"},
                      BundleCase{"BothMissing", std::nullopt, std::nullopt, "?", "?"},
                      BundleCase{"ShortVersionMissing", std::nullopt, Value("45"), "?", "45"},
                      BundleCase{"BuildNotText", Value("2.3.1"), Value(45), "2.3.1", "?"}),
    [](const auto& testParam) { return std::string(testParam.param.name); });

TEST(AppStartupTest, ASecondLaunchStartsNothingTwice) {
    AppHarness app;
    app.launch();
    app.journal->clear();

    app.delegate().performLaunch();
    app.runtime->runUntilIdle();

    EXPECT_EQ(app.errorClient->starts().size(), 1u);
    EXPECT_EQ(app.analyticsClient->initializations().size(), 1u);
    EXPECT_EQ(app.launchEvents().size(), 1u);
    EXPECT_EQ(app.hooks->setHandlerCount(), 1);
    EXPECT_EQ(app.journal->count("errorReporting.start"), 0);
    EXPECT_EQ(app.journal->count("analytics.track App - Launch"), 0);
    // The main window still opens; the menu keeps its items and the observers are not doubled.
    EXPECT_EQ(app.journal->count("mainWindow.show"), 1);
    EXPECT_EQ(app.mainMenu->items().size(), 4u);
    EXPECT_EQ(app.delegate().workspaceLifecycleObserverCount(), 4u);
    app.desktop->lockScreen();
    app.runtime->runUntilIdle();
    EXPECT_EQ(app.announcements, std::vector<std::string>{"pinnedWindowsShouldSuspend"});
}

TEST(AppStartupTest, ShortcutsRunTheirCommandsThroughTheDelegate) {
    AppHarness app;
    app.launch();
    app.journal->clear();

    EXPECT_TRUE(app.shortcuts->release(ShortcutName::showMainWindow));
    EXPECT_TRUE(app.shortcuts->release(ShortcutName::toggleWindowUnderMouse));
    EXPECT_TRUE(app.shortcuts->release(ShortcutName::startWindowSelection));

    EXPECT_EQ(app.journal->calls(),
              (std::vector<std::string>{"mainWindow.show", "commands.togglePinnedWindows shortcut",
                                        "commands.startSelectionFromShortcut"}));
}

TEST(AppStartupTest, AThemeChangeRepaintsTheMainWindowOnTheMainQueue) {
    AppHarness app;
    app.launch();
    app.journal->clear();

    app.desktop->defaultCenter()->post(NotificationName::appThemeDidChange);
    EXPECT_EQ(app.journal->count("mainWindow.applyTheme"), 0);
    app.runtime->runUntilIdle();

    EXPECT_EQ(app.journal->calls(), std::vector<std::string>{"mainWindow.applyTheme"});
}

}  // namespace
}  // namespace tovalo
