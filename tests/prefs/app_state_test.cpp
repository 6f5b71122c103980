#include "prefs/app_state.h"

#include <gtest/gtest.h>

#include "base/in_memory_preferences_store.h"
#include "platform/sim/sim_system_events.h"
#include "prefs/notification_name.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

class AppStateTest : public ::testing::Test {
  protected:
    std::shared_ptr<NotificationCenter> center = std::make_shared<NotificationCenter>();
    InMemoryPreferencesStore store;
    sim::SimSystemEvents events{center};
};

TEST_F(AppStateTest, InitialLanguageFollowsTheStoredChoiceElseSystem) {
    struct Case {
        std::optional<Value> stored;
        AppLanguage expected;
    };
    const std::vector<Case> cases{
        {std::nullopt, AppLanguage::system},      {Value("en"), AppLanguage::english},
        {Value("zh-Hans"), AppLanguage::chinese}, {Value("system"), AppLanguage::system},
        {Value("fr"), AppLanguage::system},       {Value(7), AppLanguage::system},
    };
    for (const auto& c : cases) {
        InMemoryPreferencesStore prefs;
        if (c.stored) {
            prefs.set(PreferenceKey::preferredLanguage, *c.stored);
        }
        auto state = AppState::create(prefs, *center);
        EXPECT_EQ(state->preferredLanguage().get(), c.expected)
            << (c.stored ? c.stored->debugDescription() : "absent");
        EXPECT_EQ(state->selectedTab().get(), TabBarType::windowSnapshot);
    }
}

TEST_F(AppStateTest, TriggersStartAsDistinctRandomValues) {
    auto state = AppState::create(store, *center);
    EXPECT_NE(state->snapshotRefreshTrigger().get(), Uuid());
    EXPECT_NE(state->forceSnapshotRefreshTrigger().get(), Uuid());
    EXPECT_NE(state->snapshotRefreshTrigger().get(), state->forceSnapshotRefreshTrigger().get());
}

TEST_F(AppStateTest, BecomingActiveRenewsOnlyTheSnapshotTrigger) {
    auto state = AppState::create(store, *center);
    const Uuid snapshot = state->snapshotRefreshTrigger().get();
    const Uuid force = state->forceSnapshotRefreshTrigger().get();
    int snapshotChanges = 0;
    auto sub = state->snapshotRefreshTrigger().subscribe([&](const Uuid&) { ++snapshotChanges; });

    events.activateApplication();

    EXPECT_EQ(snapshotChanges, 1) << "delivered within the post, on the posting thread";
    EXPECT_NE(state->snapshotRefreshTrigger().get(), snapshot);
    EXPECT_EQ(state->forceSnapshotRefreshTrigger().get(), force);
}

TEST_F(AppStateTest, RequestSnapshotRefreshRenewsOnlyTheForceTrigger) {
    auto state = AppState::create(store, *center);
    const Uuid snapshot = state->snapshotRefreshTrigger().get();
    const Uuid force = state->forceSnapshotRefreshTrigger().get();

    center->post(NotificationName::requestSnapshotRefresh);
    const Uuid afterFirst = state->forceSnapshotRefreshTrigger().get();
    center->post(NotificationName::requestSnapshotRefresh);

    EXPECT_NE(afterFirst, force);
    EXPECT_NE(state->forceSnapshotRefreshTrigger().get(), afterFirst) << "renewed every time";
    EXPECT_EQ(state->snapshotRefreshTrigger().get(), snapshot);
}

TEST_F(AppStateTest, ReleasedStateIsNotKeptAliveAndIgnoresLaterNotifications) {
    auto state = AppState::create(store, *center);
    std::weak_ptr<AppState> weak = state;
    state.reset();
    EXPECT_TRUE(weak.expired()) << "the subscriptions must hold the state weakly";

    events.activateApplication();
    center->post(NotificationName::requestSnapshotRefresh);
}

}  // namespace
}  // namespace tovalo
