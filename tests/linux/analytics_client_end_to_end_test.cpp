// The analytics client over real HTTP: libcurl against a server on 127.0.0.1 that the test
// starts. Time is still virtual: each upload runs on the test thread while the runtime is
// drained, and the server answers from its own thread.

#include <gtest/gtest.h>

#include "analytics_test_support.h"
#include "base/manual_dispatch_runtime.h"
#include "platform/linux/curl_http_client.h"
#include "platform/linux/linux_analytics_client.h"
#include "support/local_http_server.h"

namespace tovalo {
namespace {

using namespace analytics_testing;
using testing::LocalHttpServer;
using testing::RecordedRequest;
using Names = std::vector<std::string>;

// Only bounds a wait for the server thread to record what it already received.
constexpr std::chrono::milliseconds kServerWait{5000};

// Sends to the first server until told to turn to the second, as when a network comes back.
class RetargetingHttpClient final : public HttpClient {
  public:
    RetargetingHttpClient(HttpClient& inner, std::string from, std::string to)
        : inner_(inner), from_(std::move(from)), to_(std::move(to)) {}

    HttpResponse perform(const HttpRequest& request) override {
        HttpRequest copy = request;
        if (retargeted_ && copy.url.starts_with(from_)) {
            copy.url = to_ + copy.url.substr(from_.size());
        }
        return inner_.perform(copy);
    }
    void retarget() { retargeted_ = true; }

  private:
    HttpClient& inner_;
    const std::string from_;
    const std::string to_;
    std::atomic<bool> retargeted_{false};
};

Names namesIn(const std::vector<RecordedRequest>& requests, const std::string& target) {
    std::vector<std::string> bodies;
    for (const auto& request : requests) {
        if (request.target == target) {
            bodies.push_back(request.body);
        }
    }
    return eventNames(bodies);
}

class AnalyticsClientEndToEndTest : public ::testing::Test {
  protected:
    std::unique_ptr<LinuxAnalyticsClient> startClient(HttpClient& http, const std::string& url) {
        LinuxAnalyticsClient::Settings settings;
        settings.stateDirectory = dir.file("analytics");
        settings.deviceSeed = "seed-1234";
        settings.defaultServerUrl = "https://unused.invalid";
        auto client = std::make_unique<LinuxAnalyticsClient>(runtime, http, settings);
        AnalyticsClientOptions options;
        options.token = "0123456789abcdef0123456789abcdef";
        options.serverUrl = url;
        client->initialize(options);
        runtime->runUntilIdle();
        return client;
    }

    TempDir dir;
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    CurlHttpClient curl;
    LocalHttpServer server;
};

TEST_F(AnalyticsClientEndToEndTest, PostsEventBatchesAndProfileUpdatesAsJson) {
    auto client = startClient(curl, server.url(""));
    client->identify("user-1");
    client->setPeopleProperties({{"plan", "free"}});
    for (int i = 0; i < 55; ++i) {
        client->track("Event " + std::to_string(i), {{"window_id", i}});
    }
    runtime->advanceBy(seconds(60));
    ASSERT_TRUE(server.waitForRequests(3, kServerWait));

    const auto requests = server.requests();
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.header("Content-Type"), "application/json");
    }
    EXPECT_EQ(requests.front().target, "/track");
    EXPECT_EQ(batchOf(requests.front().body).size(), 50U);
    Names expected;
    for (int i = 0; i < 55; ++i) {
        expected.push_back("Event " + std::to_string(i));
    }
    EXPECT_EQ(namesIn(requests, "/track"), expected);

    std::vector<RecordedRequest> engage;
    std::copy_if(requests.begin(), requests.end(), std::back_inserter(engage),
                 [](const RecordedRequest& r) { return r.target == "/engage"; });
    ASSERT_EQ(engage.size(), 1U);
    const ValueList updates = batchOf(engage[0].body);
    ASSERT_EQ(updates.size(), 1U);
    EXPECT_EQ(*updates[0].find("$distinct_id"), Value("user-1"));
    EXPECT_EQ(*updates[0].find("$set"), Value(ValueMap{{"plan", "free"}}));
}

TEST_F(AnalyticsClientEndToEndTest, RetriesAfterAServerError) {
    server.enqueueResponse(500, "{\"error\":\"busy\"}");
    auto client = startClient(curl, server.url(""));
    client->track("A", {});

    runtime->advanceBy(seconds(60));
    ASSERT_TRUE(server.waitForRequests(1, kServerWait));
    runtime->advanceBy(seconds(59));
    EXPECT_EQ(server.requests().size(), 1U) << "waits out the back-off";
    runtime->advanceBy(seconds(1));
    ASSERT_TRUE(server.waitForRequests(2, kServerWait));

    const auto requests = server.requests();
    EXPECT_EQ(requests[0].body, requests[1].body) << "the same batch, sent again";
    runtime->advanceBy(seconds(600));
    EXPECT_EQ(server.requests().size(), 2U);
}

TEST_F(AnalyticsClientEndToEndTest, RetriesAfterARefusedConnection) {
    LocalHttpServer stopped;
    const std::string deadUrl = stopped.url("");
    stopped.stop();
    RetargetingHttpClient http(curl, deadUrl, server.url(""));
    auto client = startClient(http, deadUrl);
    client->track("A", {});

    runtime->advanceBy(seconds(60));  // refused
    http.retarget();
    runtime->advanceBy(seconds(59));
    EXPECT_TRUE(server.requests().empty());
    runtime->advanceBy(seconds(1));
    ASSERT_TRUE(server.waitForRequests(1, kServerWait));
    EXPECT_EQ(namesIn(server.requests(), "/track"), Names{"A"});
}

TEST_F(AnalyticsClientEndToEndTest, EventsKeptWhileUnreachableReachTheServerAfterARestart) {
    {
        LocalHttpServer stopped;
        const std::string deadUrl = stopped.url("");
        stopped.stop();
        auto client = startClient(curl, deadUrl);
        client->track("A", {});
        client->track("B", {});
        runtime->advanceBy(seconds(60));
        EXPECT_FALSE(client->shutdown(seconds(2)));
    }
    auto client = startClient(curl, server.url(""));
    runtime->advanceBy(seconds(60));
    ASSERT_TRUE(server.waitForRequests(1, kServerWait));
    EXPECT_EQ(namesIn(server.requests(), "/track"), (Names{"A", "B"}));
}

}  // namespace
}  // namespace tovalo
