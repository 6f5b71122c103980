// The analytics client on real threads: callers on several threads at once while uploads run
// on the client's own queues. Nothing sleeps; shutdown() is where the test meets the client.
// Meant for the ThreadSanitizer build too.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

#include "analytics_test_support.h"
#include "base/dispatch_runtime.h"
#include "base/run_loop.h"
#include "platform/linux/linux_analytics_client.h"

namespace tovalo {
namespace {

using namespace analytics_testing;

TEST(AnalyticsClientThreadsTest, EveryEventFromManyThreadsIsDeliveredOnceInItsThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 250;
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    TempDir dir;
    ScriptedHttpClient http;
    {
        LinuxAnalyticsClient::Settings settings;
        settings.stateDirectory = dir.file("analytics");
        settings.deviceSeed = "seed";
        settings.defaultServerUrl = "https://analytics.test";
        settings.maxQueuedEvents = 10000;
        LinuxAnalyticsClient client(runtime, http, settings);
        AnalyticsClientOptions options;
        options.token = "0123456789abcdef0123456789abcdef";
        client.initialize(options);

        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&client, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    client.track("Thread " + std::to_string(t), {{"i", i}});
                    if (i % 50 == 0) {
                        client.registerSuperProperties({{"round", i}});
                        client.time("Thread " + std::to_string(t));
                    }
                }
            });
        }
        threads.emplace_back([&client] {
            for (int i = 0; i < 100; ++i) {
                client.identify("user-" + std::to_string(i % 3));
                EXPECT_FALSE(client.distinctId().empty());
                client.setPeopleProperties({{"n", i}});
            }
        });
        for (auto& thread : threads) {
            thread.join();
        }
        // A bound on a hang, not a timing expectation.
        EXPECT_TRUE(client.shutdown(seconds(60)));
    }

    std::map<std::string, std::vector<std::int64_t>> seen;
    std::set<std::string> insertIds;
    std::size_t events = 0;
    for (const auto& request : http.requests()) {
        if (!request.url.ends_with("/track")) {
            continue;
        }
        for (const Value& event : batchOf(request.body)) {
            const ValueMap& props = propertiesOf(event);
            seen[eventName(event)].push_back(*props.at("i").asInt());
            insertIds.insert(*props.at("$insert_id").asString());
            ++events;
        }
    }
    EXPECT_EQ(events, static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_EQ(insertIds.size(), events) << "nothing was sent twice";
    for (int t = 0; t < kThreads; ++t) {
        const auto& sequence = seen["Thread " + std::to_string(t)];
        ASSERT_EQ(sequence.size(), static_cast<std::size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i) {
            EXPECT_EQ(sequence[static_cast<std::size_t>(i)], i);
        }
    }
}

}  // namespace
}  // namespace tovalo
