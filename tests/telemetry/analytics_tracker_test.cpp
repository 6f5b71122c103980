#include "telemetry/analytics_tracker.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim_analytics_client.h"
#include "telemetry/analytics_event.h"

namespace tovalo {
namespace {

using sim::SimAnalyticsClient;
using sim::TrackedEvent;
using Calls = std::vector<std::string>;
using Aliases = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kAnonymousId = "$device:5F1C";

class AnalyticsTrackerTest : public ::testing::Test {
  protected:
    SimAnalyticsClient client_{kAnonymousId};
    AnalyticsTracker tracker_{client_, kToken};
};

TEST_F(AnalyticsTrackerTest, ConfigureInitialisesOnceThenSwitchesLoggingOff) {
    tracker_.configure();
    tracker_.configure();

    EXPECT_TRUE(tracker_.isConfigured());
    EXPECT_EQ(client_.calls(), (Calls{"initialize", "setLoggingEnabled"}));
    EXPECT_EQ(client_.loggingEnabled(), false);
    const auto options = client_.initializations().at(0);
    EXPECT_EQ(options.token, kToken);
    EXPECT_FALSE(options.trackAutomaticEvents);
    EXPECT_EQ(options.flushInterval, seconds(60));
    EXPECT_EQ(options.instanceName, std::nullopt);
    EXPECT_FALSE(options.optOutTrackingByDefault);
    EXPECT_TRUE(options.superProperties.empty());
    EXPECT_EQ(options.serverUrl, std::nullopt);
}

TEST_F(AnalyticsTrackerTest, EverythingBeforeConfigureIsDroppedNotQueued) {
    tracker_.track(AnalyticsEvent::appLaunch, {{"app_version", "1.0"}});
    tracker_.startTimedEvent(AnalyticsEvent::windowSnapshotThumbnailLoad);
    EXPECT_EQ(tracker_.identify("device"), std::nullopt);
    EXPECT_TRUE(client_.calls().empty());

    tracker_.configure();
    tracker_.track(AnalyticsEvent::selectionPin);
    EXPECT_EQ(client_.events(), (std::vector<TrackedEvent>{{"Selection - Pin", {}}}));
    EXPECT_TRUE(client_.timedEvents().empty());
    EXPECT_EQ(tracker_.currentDistinctID(), std::nullopt);
}

TEST_F(AnalyticsTrackerTest, TrackAndTimedEventsReachTheClient) {
    tracker_.configure();
    tracker_.startTimedEvent(AnalyticsEvent::windowSnapshotThumbnailLoad);
    tracker_.track(AnalyticsEvent::windowSnapshotThumbnailLoad, {{"window_id", 42}, {"ok", true}});

    EXPECT_EQ(client_.timedEvents(), Calls{"Window Snapshot - Thumbnail Load"});
    EXPECT_EQ(client_.events(), (std::vector<TrackedEvent>{{"Window Snapshot - Thumbnail Load",
                                                            {{"window_id", 42}, {"ok", true}}}}));
}

TEST_F(AnalyticsTrackerTest, IdentifyTrimsWhitespaceAndLineBreaks) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"device", "device"},
        {"  device  ", "device"},
        {"\n\tdevice\r\n", "device"},
        {"\u00A0\u2003device\u3000\u2028", "device"},  // Unicode spaces and line separators
        {"de vice", "de vice"},                        // inner space stays
    };
    tracker_.configure();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(tracker_.identify(c.input), c.expected);
        EXPECT_EQ(client_.distinctId(), c.expected);
        EXPECT_EQ(tracker_.currentDistinctID(), c.expected);
    }
}

TEST_F(AnalyticsTrackerTest, BlankIdentifierChangesNothing) {
    tracker_.configure();
    for (const char* blank : {"", "   ", "\n\t\r\n", "\u00A0\u2029"}) {
        EXPECT_EQ(tracker_.identify(blank), std::nullopt) << blank;
    }
    EXPECT_EQ(client_.distinctId(), kAnonymousId);
    EXPECT_TRUE(client_.identifications().empty());
    EXPECT_TRUE(client_.aliases().empty());
    EXPECT_EQ(tracker_.currentDistinctID(), std::nullopt);
}

TEST(AnalyticsTrackerAliasTest, AliasOnlyReplacesADifferentAnonymousIdentity) {
    struct Case {
        const char* current;
        const char* newId;
        bool aliased;
    };
    const Case cases[] = {
        {"$device:5F1C", "device", true},
        {"$device:5F1C", "$device:5F1C", false},  // already the same identity
        {"earlier-device", "device", false},      // not anonymous
        {"", "device", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.current) + " -> " + c.newId);
        SimAnalyticsClient client(c.current);
        AnalyticsTracker tracker(client, kToken);
        tracker.configure();

        EXPECT_EQ(tracker.identify(c.newId), c.newId);
        const Aliases expected = c.aliased ? Aliases{{c.newId, c.current}} : Aliases{};
        EXPECT_EQ(client.aliases(), expected);
        EXPECT_EQ(client.identifications(), Calls{c.newId});
    }
}

TEST_F(AnalyticsTrackerTest, AnonymousIdentityIsAliasedOnlyAtTheFirstIdentify) {
    tracker_.configure();
    tracker_.identify("first");
    tracker_.identify("second");
    tracker_.identify("first");

    EXPECT_EQ(client_.aliases(), (Aliases{{"first", kAnonymousId}}));
    EXPECT_EQ(client_.identifications(), (Calls{"first", "second", "first"}));
    EXPECT_EQ(tracker_.currentDistinctID(), "first");
}

TEST_F(AnalyticsTrackerTest, OnlyNonEmptyPropertyMapsAreRegistered) {
    tracker_.configure();
    tracker_.identify("device", ValueMap{}, std::nullopt);
    tracker_.identify("device", std::nullopt, ValueMap{});
    EXPECT_EQ(client_.calls(), (Calls{"initialize", "setLoggingEnabled", "distinctId",
                                      "createAlias", "identify", "distinctId", "identify"}));

    tracker_.identify("device", ValueMap{{"plan", "free"}}, ValueMap{{"name", "n"}});
    EXPECT_EQ(client_.superProperties(), (ValueMap{{"plan", "free"}}));
    EXPECT_EQ(client_.peopleProperties(), (ValueMap{{"name", "n"}}));
}

TEST_F(AnalyticsTrackerTest, ClientFailuresAreContained) {
    client_.setFailing(true);
    EXPECT_NO_THROW(tracker_.configure());
    EXPECT_FALSE(tracker_.isConfigured());

    client_.setFailing(false);
    tracker_.configure();
    client_.setFailing(true);
    EXPECT_NO_THROW(tracker_.track(AnalyticsEvent::appLaunch));
    EXPECT_NO_THROW(tracker_.startTimedEvent(AnalyticsEvent::appLaunch));
    EXPECT_EQ(tracker_.identify("device"), std::nullopt);
    EXPECT_EQ(tracker_.currentDistinctID(), std::nullopt);
}

}  // namespace
}  // namespace tovalo
