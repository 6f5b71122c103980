// The analytics client on virtual time, against an HTTP client that answers from a script.
// Every test has its own state directory; queue work (file and "network") runs on the test
// thread whenever the test drains the runtime.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "analytics_test_support.h"
#include "base/debug_log.h"
#include "base/manual_dispatch_runtime.h"
#include "base/uuid.h"
#include "platform/linux/analytics_uploader.h"
#include "platform/linux/linux_analytics_client.h"

namespace tovalo {
namespace {

using namespace analytics_testing;
using ::testing::Contains;
using ::testing::Pair;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kServer = "https://analytics.test";
constexpr const char* kAnonymousId = "$device:seed-1234";

using Names = std::vector<std::string>;

Names numberedNames(int from, int to) {
    Names names;
    for (int i = from; i <= to; ++i) {
        names.push_back("Event " + std::to_string(i));
    }
    return names;
}

std::string insertIdOf(const Value& event) {
    const auto it = propertiesOf(event).find("$insert_id");
    return it != propertiesOf(event).end() && it->second.asString() ? *it->second.asString() : "";
}

class AnalyticsClientTest : public ::testing::Test {
  protected:
    LinuxAnalyticsClient::Settings settings() const {
        LinuxAnalyticsClient::Settings s;
        s.stateDirectory = dir.file("analytics");
        s.deviceSeed = "seed-1234";
        s.defaultServerUrl = kServer;
        return s;
    }

    std::unique_ptr<LinuxAnalyticsClient> makeClient(LinuxAnalyticsClient::Settings s) {
        return std::make_unique<LinuxAnalyticsClient>(runtime, http, std::move(s));
    }

    static void initialize(LinuxAnalyticsClient& client) {
        AnalyticsClientOptions options;
        options.token = kToken;
        client.initialize(options);
    }

    std::unique_ptr<LinuxAnalyticsClient> startClient() { return startClient(settings()); }
    std::unique_ptr<LinuxAnalyticsClient> startClient(LinuxAnalyticsClient::Settings s) {
        auto client = makeClient(std::move(s));
        initialize(*client);
        runtime->runUntilIdle();
        return client;
    }

    std::vector<std::string> bodiesTo(const std::string& path) const {
        std::vector<std::string> bodies;
        for (const auto& request : http.requests()) {
            if (request.url == kServer + path) {
                bodies.push_back(request.body);
            }
        }
        return bodies;
    }
    Names trackedNames() const { return eventNames(bodiesTo("/track")); }

    TempDir dir;
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    ScriptedHttpClient http{&runtime->manualClock()};
};

TEST_F(AnalyticsClientTest, UploadsOnceTheFlushIntervalHasPassed) {
    auto client = startClient();
    client->track("Overlay - Close Tapped", {});
    client->track("Overlay - Menu Toggled", {});

    runtime->advanceBy(seconds(59.999));
    EXPECT_EQ(http.requestCount(), 0U);

    runtime->advanceBy(milliseconds(1));
    ASSERT_EQ(http.requestCount(), 1U);
    const HttpRequest request = http.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, "https://analytics.test/track");
    EXPECT_THAT(request.headers, Contains(Pair("Content-Type", "application/json")));
    EXPECT_EQ(trackedNames(), (Names{"Overlay - Close Tapped", "Overlay - Menu Toggled"}));

    runtime->advanceBy(seconds(180));
    EXPECT_EQ(http.requestCount(), 1U) << "delivered events are not sent again";
}

TEST_F(AnalyticsClientTest, AFullBatchGoesOutAtOnceAndBatchesHoldAtMostFifty) {
    auto client = startClient();
    for (int i = 0; i < 120; ++i) {
        client->track("Event " + std::to_string(i), {});
    }
    runtime->runUntilIdle();  // no time passes

    const auto bodies = bodiesTo("/track");
    ASSERT_GE(bodies.size(), 3U);
    EXPECT_EQ(batchOf(bodies[0]).size(), 50U);
    for (const auto& body : bodies) {
        EXPECT_LE(batchOf(body).size(), 50U);
    }
    EXPECT_EQ(trackedNames(), numberedNames(0, 119));
}

TEST_F(AnalyticsClientTest, SendsTheExactJsonOfAnEventWithItsDuration) {
    auto client = startClient();
    client->registerSuperProperties({{"app_version", "1.2"}, {"window_id", 1}});
    client->time("Window Snapshot - Thumbnail Load");
    runtime->advanceBy(seconds(2.5));
    client->track("Window Snapshot - Thumbnail Load", {{"window_id", 42}, {"source", "cache"}});
    client->track("Window Snapshot - Thumbnail Load", {});
    client->flush();
    runtime->runUntilIdle();

    const auto bodies = bodiesTo("/track");
    ASSERT_EQ(bodies.size(), 1U);
    const ValueList batch = batchOf(bodies[0]);
    ASSERT_EQ(batch.size(), 2U);
    const std::string firstId = insertIdOf(batch[0]);
    const std::string secondId = insertIdOf(batch[1]);
    EXPECT_TRUE(Uuid::parse(firstId).has_value());
    EXPECT_NE(firstId, secondId);

    const std::string expected =
        R"([{"event":"Window Snapshot - Thumbnail Load","properties":{"$duration":2.5,)"
        R"("$insert_id":")" +
        firstId +
        R"(","app_version":"1.2","distinct_id":"$device:seed-1234","source":"cache",)"
        R"("time":1767225602500,"token":"0123456789abcdef0123456789abcdef","window_id":42}},)"
        R"({"event":"Window Snapshot - Thumbnail Load","properties":{"$insert_id":")" +
        secondId +
        R"(","app_version":"1.2","distinct_id":"$device:seed-1234",)"
        R"("time":1767225602500,"token":"0123456789abcdef0123456789abcdef","window_id":1}}])";
    EXPECT_EQ(bodies[0], expected);
}

class AnalyticsClientRetryTest : public AnalyticsClientTest,
                                 public ::testing::WithParamInterface<long> {};

TEST_P(AnalyticsClientRetryTest, KeepsTheBatchAndRetriesWithDoublingBackOff) {
    const TimePoint start = runtime->now();
    for (int i = 0; i < 3; ++i) {
        http.enqueue(GetParam(), GetParam() == 0 ? "Connection refused" : "");
    }
    auto client = startClient();
    client->track("Overlay - Close Tapped", {});
    runtime->advanceBy(seconds(1000));

    std::vector<double> offsets;
    for (const TimePoint t : http.requestTimes()) {
        offsets.push_back(toSeconds(t - start));
    }
    // The first flush, then 60 s, 120 s and 240 s after each failure; the fourth try succeeds.
    EXPECT_EQ(offsets, (std::vector<double>{60, 120, 240, 480}));
    std::set<std::string> insertIds;
    for (const auto& body : bodiesTo("/track")) {
        const ValueList batch = batchOf(body);
        ASSERT_EQ(batch.size(), 1U);
        insertIds.insert(insertIdOf(batch[0]));
    }
    EXPECT_EQ(insertIds.size(), 1U) << "the same event is retried, not a copy";
}

INSTANTIATE_TEST_SUITE_P(RetryableStatuses, AnalyticsClientRetryTest,
                         ::testing::Values(0L, 408L, 429L, 500L, 503L));

TEST(AnalyticsUploaderTest, RetryDelayDoublesUpToItsCeiling) {
    const std::pair<int, double> cases[] = {{1, 60},  {2, 120}, {3, 240},   {4, 480},
                                            {5, 600}, {6, 600}, {1000, 600}};
    for (const auto& [failures, expected] : cases) {
        EXPECT_EQ(AnalyticsUploader::retryDelay(failures, seconds(60), seconds(600)),
                  seconds(expected))
            << failures << " failures";
    }
}

class AnalyticsClientRefusalTest : public AnalyticsClientTest,
                                   public ::testing::WithParamInterface<long> {};

TEST_P(AnalyticsClientRefusalTest, DropsARefusedBatchAndSendsTheRest) {
    http.enqueue(GetParam());
    auto client = startClient();
    for (int i = 0; i < 60; ++i) {
        client->track("Event " + std::to_string(i), {});
    }
    runtime->runUntilIdle();
    runtime->advanceBy(seconds(1200));

    const auto bodies = bodiesTo("/track");
    ASSERT_GE(bodies.size(), 2U);
    EXPECT_EQ(eventNames({bodies[0]}), numberedNames(0, 49));
    EXPECT_EQ(eventNames({bodies.begin() + 1, bodies.end()}), numberedNames(50, 59))
        << "the refused batch is never sent again";
}

INSTANTIATE_TEST_SUITE_P(RefusedStatuses, AnalyticsClientRefusalTest,
                         ::testing::Values(400L, 401L, 404L, 413L));

TEST_F(AnalyticsClientTest, EventsTrackedBeforeARestartAreSentByTheNextClient) {
    {
        auto client = startClient();
        client->track("A", {});
        client->track("B", {});
        runtime->runUntilIdle();
        client->track("C", {});  // still queued when the client goes away
    }
    EXPECT_EQ(http.requestCount(), 0U);

    auto client = startClient();
    runtime->advanceBy(seconds(60));
    EXPECT_EQ(trackedNames(), (Names{"A", "B", "C"}));
}

TEST_F(AnalyticsClientTest, DropsTheOldestEventsBeyondTheBound) {
    auto s = settings();
    s.maxQueuedEvents = 5;
    auto client = startClient(s);
    for (int i = 0; i < 8; ++i) {
        client->track("Event " + std::to_string(i), {});
    }
    runtime->advanceBy(seconds(60));
    EXPECT_EQ(trackedNames(), numberedNames(3, 7));
}

TEST_F(AnalyticsClientTest, ToleratesADamagedJournalAndIdentityFile) {
    {
        auto client = startClient();
        client->track("A", {});
        client->track("B", {});
        client->track("C", {});
    }
    const fs::path journal = dir.path() / "analytics" / "events.journal";
    std::istringstream lines(readFile(journal));
    std::string a, b, c;
    std::getline(lines, a);
    std::getline(lines, b);
    std::getline(lines, c);
    b[b.size() / 2] ^= 0x20;
    writeFile(journal, a + "\n" + b + "\n\x01garbage\n" + c + "\n" + c.substr(0, 20));
    writeFile(dir.path() / "analytics" / "identity.json", "{\"distinct_id\": [unfinished");

    auto client = startClient();
    client->track("D", {});
    runtime->advanceBy(seconds(60));
    EXPECT_EQ(trackedNames(), (Names{"A", "C", "D"}));
    EXPECT_EQ(client->distinctId(), kAnonymousId);
}

TEST_F(AnalyticsClientTest, HostileInputGivesValidBoundedJson) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string huge(4 * 1024 * 1024, 'x');
    auto client = startClient();
    client->track("Bad \xFF\xFE name " + huge, {{"nan", nan},
                                                {"inf", std::numeric_limits<double>::infinity()},
                                                {"text", "\xC0\x80" + huge},
                                                {"list", ValueList(100000, Value(1.5))},
                                                {"token", "caller's token"}});
    client->track("", {{"dropped", true}});
    client->track("Next", {});
    client->flush();
    runtime->runUntilIdle();

    const auto bodies = bodiesTo("/track");
    ASSERT_EQ(bodies.size(), 1U);
    EXPECT_LT(bodies[0].size(), 64U * 1024U);
    const ValueList batch = batchOf(bodies[0]);
    ASSERT_EQ(batch.size(), 2U);
    const std::string name = eventName(batch[0]);
    EXPECT_TRUE(name.starts_with("Bad \xEF\xBF\xBD\xEF\xBF\xBD name xxx")) << name.substr(0, 20);
    EXPECT_LE(name.size(), 255U);
    const ValueMap& props = propertiesOf(batch[0]);
    EXPECT_FALSE(props.contains("nan"));
    EXPECT_FALSE(props.contains("inf"));
    EXPECT_LE(props.at("text").asString()->size(), 1024U);
    EXPECT_LE(props.at("list").asList()->size(), 255U);
    EXPECT_EQ(props.at("token"), Value(kToken)) << "the client's own fields win";
    EXPECT_EQ(eventName(batch[1]), "Next");
}

TEST_F(AnalyticsClientTest, AliasThenIdentifySendsOneAliasAndSurvivesARestart) {
    auto client = startClient();
    EXPECT_EQ(client->distinctId(), kAnonymousId);

    client->createAlias("user-1", client->distinctId());
    EXPECT_EQ(client->distinctId(), "user-1") << "answered at once, before the queue ran";
    client->identify("user-1");
    client->createAlias("user-1", "user-1");  // ignored: an alias of itself
    client->track("A", {});
    client->flush();
    runtime->runUntilIdle();

    const auto bodies = bodiesTo("/track");
    ASSERT_EQ(bodies.size(), 1U);
    const ValueList batch = batchOf(bodies[0]);
    ASSERT_EQ(batch.size(), 2U);
    EXPECT_EQ(eventName(batch[0]), "$create_alias");
    EXPECT_EQ(propertiesOf(batch[0]), (ValueMap{{"alias", "user-1"},
                                                {"distinct_id", kAnonymousId},
                                                {"token", kToken},
                                                {"time", std::int64_t{1767225600000}},
                                                {"$insert_id", insertIdOf(batch[0])}}));
    EXPECT_EQ(eventName(batch[1]), "A");
    EXPECT_EQ(propertiesOf(batch[1]).at("distinct_id"), Value("user-1"));

    client.reset();
    auto restarted = makeClient(settings());
    EXPECT_EQ(restarted->distinctId(), "user-1");
}

TEST_F(AnalyticsClientTest, ProfilePropertiesWaitForIdentifyEvenAcrossARestart) {
    {
        auto client = startClient();
        client->setPeopleProperties({{"plan", "free"}});
        client->flush();
        runtime->runUntilIdle();
        EXPECT_TRUE(bodiesTo("/engage").empty()) << "no profile for an anonymous id";
    }
    auto client = startClient();
    client->identify("user-1");
    client->setPeopleProperties({{"theme", "dark"}});
    client->flush();
    runtime->runUntilIdle();

    const auto bodies = bodiesTo("/engage");
    ASSERT_EQ(bodies.size(), 1U);
    EXPECT_EQ(bodies[0],
              R"([{"$distinct_id":"user-1","$set":{"plan":"free"},"$time":1767225600000,)"
              R"("$token":"0123456789abcdef0123456789abcdef"},)"
              R"({"$distinct_id":"user-1","$set":{"theme":"dark"},"$time":1767225600000,)"
              R"("$token":"0123456789abcdef0123456789abcdef"}])");
}

TEST_F(AnalyticsClientTest, SuperPropertiesPersistAndEventPropertiesOverrideThem) {
    {
        auto client = startClient();
        client->registerSuperProperties({{"app_version", "1.0"}, {"channel", "beta"}});
        runtime->runUntilIdle();
    }
    auto client = startClient();
    client->registerSuperProperties({{"app_version", "1.1"}});
    client->track("A", {{"channel", "stable"}});
    client->flush();
    runtime->runUntilIdle();

    const auto bodies = bodiesTo("/track");
    ASSERT_EQ(bodies.size(), 1U);
    const ValueList batch = batchOf(bodies[0]);
    ASSERT_FALSE(batch.empty());
    const ValueMap& props = propertiesOf(batch[0]);
    EXPECT_EQ(props.at("app_version"), Value("1.1"));
    EXPECT_EQ(props.at("channel"), Value("stable"));
}

TEST_F(AnalyticsClientTest, CallsBeforeInitializeAreKeptUntilItRuns) {
    auto client = makeClient(settings());
    client->time("Early");
    runtime->advanceBy(seconds(1));
    client->track("Early", {});
    client->flush();
    runtime->runUntilIdle();
    EXPECT_EQ(http.requestCount(), 0U);

    initialize(*client);
    client->flush();
    runtime->runUntilIdle();
    const auto bodies = bodiesTo("/track");
    ASSERT_EQ(bodies.size(), 1U);
    const ValueList batch = batchOf(bodies[0]);
    ASSERT_FALSE(batch.empty());
    const ValueMap& props = propertiesOf(batch[0]);
    EXPECT_EQ(props.at("token"), Value(kToken));
    EXPECT_EQ(props.at("$duration"), Value(1.0));
}

TEST_F(AnalyticsClientTest, CallsDoNoFileOrNetworkWorkOnTheCallersThread) {
    auto client = makeClient(settings());
    initialize(*client);
    client->track("A", {});
    client->identify("user-1");
    client->setPeopleProperties({{"plan", "free"}});
    client->flush();
    EXPECT_EQ(client->distinctId(), "user-1");

    EXPECT_FALSE(fs::exists(dir.path() / "analytics"));
    EXPECT_EQ(http.requestCount(), 0U);
    runtime->runUntilIdle();
    EXPECT_TRUE(fs::exists(dir.path() / "analytics" / "events.journal"));
    EXPECT_EQ(http.requestCount(), 2U);  // the event and the profile update
}

TEST_F(AnalyticsClientTest, ShutdownUploadsWhatIsQueuedAndReportsFailure) {
    auto client = startClient();
    client->track("A", {});
    client->track("B", {});
    EXPECT_TRUE(client->shutdown(seconds(5)));
    EXPECT_EQ(trackedNames(), (Names{"A", "B"}));

    http.enqueue(503);
    client->track("C", {});
    EXPECT_FALSE(client->shutdown(seconds(5)));
    runtime->advanceBy(seconds(3600));
    EXPECT_EQ(http.requestCount(), 2U) << "no timer or retry runs after shutdown";

    client.reset();
    auto next = startClient();
    runtime->advanceBy(seconds(60));
    // "C" twice: the attempt refused at shutdown, then the next run's delivery.
    EXPECT_EQ(trackedNames(), (Names{"A", "B", "C", "C"}));
}

TEST_F(AnalyticsClientTest, DeliversFromMemoryWhenTheStateDirectoryIsUnusable) {
    writeFile(dir.path() / "blocked", "a file where the folder should be");
    auto s = settings();
    s.stateDirectory = (dir.path() / "blocked" / "analytics").string();
    auto client = startClient(s);
    client->track("A", {});
    runtime->advanceBy(seconds(60));
    EXPECT_EQ(trackedNames(), (Names{"A"}));
}

TEST_F(AnalyticsClientTest, WithoutASeedTheAnonymousIdIsARandomUuidKeptAcrossRuns) {
    auto s = settings();
    s.deviceSeed.reset();
    std::string first;
    {
        auto client = makeClient(s);
        first = client->distinctId();
    }
    ASSERT_TRUE(first.starts_with("$device:"));
    EXPECT_TRUE(Uuid::parse(first.substr(8)).has_value()) << first;
    EXPECT_EQ(makeClient(s)->distinctId(), first);
}

TEST_F(AnalyticsClientTest, WritesLogLinesOnlyWhileLoggingIsOn) {
    std::vector<DebugLogLine> lines;
    ScopedDebugLogSink sink([&](const DebugLogLine& line) {
        if (line.tag == "Analytics") {
            lines.push_back(line);
        }
    });
    http.enqueue(500);
    auto client = startClient();
    client->track("A", {});
    runtime->advanceBy(seconds(60));
    EXPECT_TRUE(lines.empty());

#ifndef TOVALO_NO_DEBUG_LOG
    client->setLoggingEnabled(true);
    runtime->advanceBy(seconds(60));  // the retry succeeds
    EXPECT_FALSE(lines.empty());
#endif
}

}  // namespace
}  // namespace tovalo
