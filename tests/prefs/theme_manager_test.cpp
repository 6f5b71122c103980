#include "prefs/theme_manager.h"

#include <gtest/gtest.h>

#include <atomic>

#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop_appearance.h"
#include "platform/sim/sim_operating_system_info.h"
#include "prefs/app_styles.h"
#include "prefs/notification_name.h"
#include "prefs/preference_key.h"
#include "prefs/preferences.h"

namespace tovalo {
namespace {

using Match = DesktopAppearance::Match;

// A desktop whose appearance the test sets, watched by a theme manager; "appThemeDidChange"
// posts are counted.
class ThemeManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        themeChangeObserver = defaultCenter->addObserver(
            NotificationName::appThemeDidChange, [this](const Notification&) { ++themeChanges; });
    }

    // Deliveries still queued for the main queue would otherwise outlive the runtime.
    void TearDown() override { runtime->runUntilIdle(); }

    std::shared_ptr<ThemeManager> makeManager(std::shared_ptr<DesktopAppearance> port = nullptr) {
        return ThemeManager::create({.store = store,
                                     .defaultCenter = defaultCenter,
                                     .distributedCenter = distributedCenter,
                                     .runtime = runtime,
                                     .appearance = port ? port : desktop});
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<NotificationCenter> defaultCenter = std::make_shared<NotificationCenter>();
    std::shared_ptr<NotificationCenter> distributedCenter =
        std::make_shared<NotificationCenter>("distributed");
    std::shared_ptr<InMemoryPreferencesStore> store =
        std::make_shared<InMemoryPreferencesStore>(defaultCenter.get());
    std::shared_ptr<sim::SimDesktopAppearance> desktop =
        std::make_shared<sim::SimDesktopAppearance>(distributedCenter);
    sim::SimOperatingSystemInfo os{{15, 4, 0}};
    ObserverToken themeChangeObserver;
    int themeChanges = 0;
};

TEST_F(ThemeManagerTest, SystemThemeInDarkModePaintsDarkEverywhere) {
    desktop->setAppearance(Match::dark);
    Preferences::setAppTheme(*store, AppTheme::system);
    auto manager = makeManager();

    const AppTheme systemTheme = manager->currentSystemTheme().get();
    EXPECT_EQ(systemTheme, AppTheme::dark) << "detected at creation";
    EXPECT_EQ(manager->effectiveTheme(), AppTheme::dark);
    EXPECT_EQ(AppStyles::appearance(AppTheme::system, systemTheme), Appearance::dark);
    EXPECT_EQ(AppStyles::palette(AppTheme::system, systemTheme, os), AppStyles::darkPalette());
}

TEST_F(ThemeManagerTest, EffectiveThemeFollowsTheStoredChoiceOrTheDesktop) {
    struct Case {
        std::optional<Value> stored;
        Match desktop;
        AppTheme expected;
    };
    const std::vector<Case> cases{
        {std::nullopt, Match::dark, AppTheme::dark},
        {Value("system"), Match::light, AppTheme::light},
        {Value("sepia"), Match::dark, AppTheme::dark},
        {Value("light"), Match::dark, AppTheme::light},
        {Value("dark"), Match::light, AppTheme::dark},
        {Value("system"), Match::none, AppTheme::light},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->debugDescription() : "absent");
        store->remove(PreferenceKey::appTheme);
        if (c.stored) {
            store->set(PreferenceKey::appTheme, *c.stored);
        }
        desktop->setAppearance(c.desktop);
        auto manager = makeManager();
        EXPECT_EQ(manager->effectiveTheme(), c.expected);
    }
}

TEST_F(ThemeManagerTest, DesktopSwitchWhileLightIsStoredUpdatesSystemThemeOnly) {
    Preferences::setAppTheme(*store, AppTheme::light);
    auto manager = makeManager();
    ASSERT_EQ(manager->currentSystemTheme().get(), AppTheme::light);

    desktop->setAppearance(Match::dark);
    EXPECT_EQ(themeChanges, 0) << "the change is delivered in a later main-queue turn";
    runtime->runUntilIdle();

    EXPECT_EQ(manager->currentSystemTheme().get(), AppTheme::dark);
    EXPECT_EQ(themeChanges, 1);
    EXPECT_EQ(manager->effectiveTheme(), AppTheme::light);
}

TEST_F(ThemeManagerTest, EffectiveThemePublishesANewlyDetectedSystemThemeOnce) {
    auto manager = makeManager();
    int published = 0;
    auto sub = manager->currentSystemTheme().subscribe([&](const AppTheme&) { ++published; });

    // The desktop changed, but its notification has not been delivered yet.
    desktop->setAppearance(Match::dark);
    EXPECT_EQ(manager->effectiveTheme(), AppTheme::dark);
    EXPECT_EQ(manager->currentSystemTheme().get(), AppTheme::dark);
    EXPECT_EQ(manager->effectiveTheme(), AppTheme::dark);
    EXPECT_EQ(published, 1) << "an unchanged detection publishes nothing";
}

// Records where the desktop was asked for its appearance.
class RecordingAppearance final : public DesktopAppearance {
  public:
    explicit RecordingAppearance(std::shared_ptr<DispatchRuntime> runtime)
        : runtime_(std::move(runtime)) {}
    Match bestMatch() const override {
        ++queries;
        if (!runtime_->isMainThread() || !runtime_->mainQueue()->isCurrent()) {
            ++queriesOffMainQueue;
        }
        return Match::dark;
    }
    mutable std::atomic<int> queries{0};
    mutable std::atomic<int> queriesOffMainQueue{0};

  private:
    std::shared_ptr<DispatchRuntime> runtime_;
};

TEST_F(ThemeManagerTest, DetectionOffTheMainThreadWaitsForTheMainQueue) {
    auto port = std::make_shared<RecordingAppearance>(runtime);
    auto manager = makeManager(port);
    port->queries = 0;
    port->queriesOffMainQueue = 0;
    auto worker = runtime->makeSerialQueue("test.worker");
    std::optional<AppTheme> detected;

    worker->async([&] { detected = manager->detectSystemTheme(); });
    runtime->runUntilIdle();

    EXPECT_EQ(detected, AppTheme::dark);
    EXPECT_EQ(port->queries, 1);
    EXPECT_EQ(port->queriesOffMainQueue, 0);
}

TEST_F(ThemeManagerTest, RefreshOffTheMainThreadPublishesInALaterMainTurn) {
    // This desktop does not announce its switch, so only the refresh can notice it.
    auto silentDesktop = std::make_shared<sim::SimDesktopAppearance>();
    auto manager = makeManager(silentDesktop);
    silentDesktop->setAppearance(Match::dark);
    auto worker = runtime->makeSerialQueue("test.worker");
    std::optional<AppTheme> seenRightAfter;

    worker->async([&] {
        manager->refreshSystemTheme();
        seenRightAfter = manager->currentSystemTheme().get();
    });
    runtime->runUntilIdle();

    EXPECT_EQ(seenRightAfter, AppTheme::light);
    EXPECT_EQ(manager->currentSystemTheme().get(), AppTheme::dark);
}

TEST_F(ThemeManagerTest, ReleasedManagerIsNotKeptAliveByPendingWork) {
    auto manager = makeManager();
    auto worker = runtime->makeSerialQueue("test.worker");
    worker->async([m = std::weak_ptr(manager)] {
        if (auto strong = m.lock()) {
            strong->refreshSystemTheme();
        }
    });
    runtime->manualExecutor().runOne();  // the worker task queues the main-queue refresh
    desktop->setAppearance(Match::dark);
    std::weak_ptr<ThemeManager> weak = manager;
    manager.reset();
    EXPECT_TRUE(weak.expired()) << "observers and deferred work must hold the manager weakly";

    runtime->runUntilIdle();
    EXPECT_EQ(desktop->queryCount(), 1) << "only the detection at creation ran";
}

}  // namespace
}  // namespace tovalo
