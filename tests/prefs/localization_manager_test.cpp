#include "prefs/localization_manager.h"

#include <gtest/gtest.h>

#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_system_events.h"
#include "prefs/notification_name.h"
#include "prefs/preferences.h"

namespace tovalo {
namespace {

using Languages = std::vector<std::string>;

// A language choice, the start-up that applies it and the locale changes that follow, with
// every "languagePreferenceDidChange" recorded.
class LocalizationManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        announcementObserver = center->addObserver(
            NotificationName::languagePreferenceDidChange, [this](const Notification& n) {
                ASSERT_EQ(n.objectAs<std::string>(), nullptr) << "object is the enum value";
                const AppLanguage* language = n.objectAs<AppLanguage>();
                ASSERT_NE(language, nullptr);
                announced.push_back(*language);
                // Observers of the announcement already see the applied state.
                stateAtAnnouncement.push_back(appState->preferredLanguage().get());
            });
    }

    // Deliveries still queued for the main queue would otherwise outlive the runtime.
    void TearDown() override { runtime->runUntilIdle(); }

    void storeChoice(const std::optional<Value>& stored) {
        if (stored) {
            store->set(PreferenceKey::preferredLanguage, *stored);
        }
    }

    void startUp() {
        appState = AppState::create(*store, *center);
        manager = LocalizationManager::create(store, center, *runtime, appState);
        manager->applyStartupLanguage();
    }

    std::optional<Languages> overrideList() const { return Preferences::appleLanguages(*store); }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    std::shared_ptr<InMemoryPreferencesStore> store =
        std::make_shared<InMemoryPreferencesStore>(center.get());
    sim::SimSystemEvents events{center};
    std::shared_ptr<AppState> appState;
    std::shared_ptr<LocalizationManager> manager;
    ObserverToken announcementObserver;
    std::vector<AppLanguage> announced;
    std::vector<AppLanguage> stateAtAnnouncement;
};

TEST_F(LocalizationManagerTest, StartUpAppliesTheStoredChoiceElseEnglish) {
    struct Case {
        std::optional<Value> stored;
        AppLanguage expected;
        std::optional<Languages> expectedOverride;
    };
    const std::vector<Case> cases{
        {std::nullopt, AppLanguage::english, Languages{"en"}},
        {Value("en"), AppLanguage::english, Languages{"en"}},
        {Value("zh-Hans"), AppLanguage::chinese, Languages{"zh-Hans"}},
        {Value("system"), AppLanguage::system, std::nullopt},
        {Value("fr"), AppLanguage::english, Languages{"en"}},
        {Value(""), AppLanguage::english, Languages{"en"}},
        {Value(3), AppLanguage::english, Languages{"en"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->debugDescription() : "absent");
        store = std::make_shared<InMemoryPreferencesStore>(center.get());
        // A stale override from an earlier run is replaced or removed.
        store->setStringList(PreferenceKey::appleLanguages, {"de"});
        announced.clear();
        stateAtAnnouncement.clear();
        storeChoice(c.stored);

        startUp();

        EXPECT_EQ(LocalizationManager::startupLanguage(*store), c.expected);
        EXPECT_EQ(appState->preferredLanguage().get(), c.expected);
        EXPECT_EQ(overrideList(), c.expectedOverride);
        EXPECT_EQ(announced, std::vector<AppLanguage>{c.expected});
        EXPECT_EQ(stateAtAnnouncement, std::vector<AppLanguage>{c.expected});
    }
}

TEST_F(LocalizationManagerTest, LocaleChangeReappliesSystemUnlessALanguageIsPinned) {
    struct Case {
        std::optional<Value> stored;
        bool reapplies;
    };
    const std::vector<Case> cases{
        {std::nullopt, true}, {Value("system"), true},   {Value("fr"), true},
        {Value("en"), false}, {Value("zh-Hans"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->debugDescription() : "absent");
        store = std::make_shared<InMemoryPreferencesStore>(center.get());
        storeChoice(c.stored);
        startUp();
        const AppLanguage atStartUp = appState->preferredLanguage().get();
        announced.clear();

        manager->handleSystemLocaleChange();

        if (c.reapplies) {
            EXPECT_EQ(announced, std::vector<AppLanguage>{AppLanguage::system});
            EXPECT_EQ(appState->preferredLanguage().get(), AppLanguage::system);
            EXPECT_EQ(overrideList(), std::nullopt);
        } else {
            EXPECT_TRUE(announced.empty());
            EXPECT_EQ(appState->preferredLanguage().get(), atStartUp);
        }
    }
}

TEST_F(LocalizationManagerTest, NothingStoredStartsEnglishThenFollowsTheSystemOnLocaleChange) {
    startUp();
    ASSERT_EQ(overrideList(), Languages{"en"});

    events.changeCurrentLocale();
    EXPECT_EQ(announced.size(), 1u) << "the observer runs in a later main-queue turn";
    runtime->runUntilIdle();

    EXPECT_EQ(announced, (std::vector<AppLanguage>{AppLanguage::english, AppLanguage::system}));
    EXPECT_EQ(appState->preferredLanguage().get(), AppLanguage::system);
    EXPECT_EQ(overrideList(), std::nullopt);
}

TEST_F(LocalizationManagerTest, StoredChineseSurvivesLocaleChangesSilently) {
    storeChoice(Value("zh-Hans"));
    startUp();

    events.changeCurrentLocale();
    runtime->runUntilIdle();

    EXPECT_EQ(announced, std::vector<AppLanguage>{AppLanguage::chinese});
    EXPECT_EQ(appState->preferredLanguage().get(), AppLanguage::chinese);
    EXPECT_EQ(overrideList(), Languages{"zh-Hans"});
}

TEST_F(LocalizationManagerTest, StoredSystemIsAnnouncedAgainOnEveryLocaleChange) {
    storeChoice(Value("system"));
    startUp();

    events.changeCurrentLocale();
    runtime->runUntilIdle();
    events.changeCurrentLocale();
    runtime->runUntilIdle();

    EXPECT_EQ(announced, std::vector<AppLanguage>(3, AppLanguage::system));
}

TEST_F(LocalizationManagerTest, ReleasedManagerIgnoresAQueuedLocaleChange) {
    startUp();
    events.changeCurrentLocale();
    std::weak_ptr<LocalizationManager> weak = manager;
    manager.reset();
    EXPECT_TRUE(weak.expired()) << "the locale observer must hold the manager weakly";

    runtime->runUntilIdle();

    EXPECT_EQ(announced, std::vector<AppLanguage>{AppLanguage::english});
    EXPECT_EQ(overrideList(), Languages{"en"});
}

}  // namespace
}  // namespace tovalo
