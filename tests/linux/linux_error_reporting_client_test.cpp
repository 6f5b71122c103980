#include "platform/linux/linux_error_reporting_client.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "base/run_loop.h"
#include "error_report_test_support.h"
#include "platform/linux/curl_http_client.h"
#include "support/local_http_server.h"

namespace tovalo {
namespace {

using error_report_testing::filesIn;
using error_report_testing::Json;
using error_report_testing::parseEnvelope;
using error_report_testing::TempDir;
using error_report_testing::writeFile;

constexpr const char* kKey = "0123456789abcdef0123456789abcdef";
constexpr const char* kDsn = "https://0123456789abcdef0123456789abcdef@errors.example.com/42";
constexpr const char* kPath = "/api/42/envelope/";

// Sends every request over real HTTP to whichever server is current, keeping the path, so a
// test can take the service away (connection refused) and bring it back.
class SwitchableHttpClient final : public HttpClient {
  public:
    explicit SwitchableHttpClient(std::string base) : base_(std::move(base)) {}

    HttpResponse perform(const HttpRequest& request) override {
        HttpRequest copy = request;
        {
            std::lock_guard lock(mutex_);
            const auto path = copy.url.find('/', copy.url.find("://") + 3);
            copy.url = base_ + copy.url.substr(path);
        }
        return curl_.perform(copy);
    }
    void switchTo(std::string base) {
        std::lock_guard lock(mutex_);
        base_ = std::move(base);
    }

  private:
    CurlHttpClient curl_;
    std::mutex mutex_;
    std::string base_;
};

// A client on virtual time whose spool lives in a temporary folder and whose reports go to a
// local HTTP server. Queued work, including the HTTP call, runs when the test drains the
// runtime.
class LinuxErrorReportingClientTest : public ::testing::Test {
  protected:
    LinuxErrorReportingClientTest() { stoppedServer_.stop(); }

    std::string spoolDir() const { return (temp_.path() / "state" / "error-reports").string(); }

    LinuxErrorReportingClient::Config config() const {
        LinuxErrorReportingClient::Config c;
        c.spoolDirectory = spoolDir();
        c.endpointOverride = server_.url(kPath);
        c.release = "tovalo@1.4.2+87";
        return c;
    }

    static ErrorReportingOptions options() {
        ErrorReportingOptions o;
        o.dsn = kDsn;
        o.sendDefaultPii = true;
        o.environment = "production";
        o.tracesSampleRate = 1.0;
        return o;
    }

    LinuxErrorReportingClient& start(LinuxErrorReportingClient::Config c, HttpClient& http) {
        client_ = std::make_unique<LinuxErrorReportingClient>(runtime_, http, std::move(c));
        client_->start(options());
        return *client_;
    }
    LinuxErrorReportingClient& start() { return start(config(), curl_); }

    static void message(LinuxErrorReportingClient& client, const std::string& text) {
        client.captureMessage(text,
                              [](ReportScope& scope) { scope.setLevel(ReportLevel::warning); });
    }

    // The events the server received, in order.
    std::vector<Json> receivedEvents() const {
        std::vector<Json> events;
        for (const auto& request : server_.requests()) {
            events.push_back(parseEnvelope(request.body).event);
        }
        return events;
    }
    std::vector<std::string> receivedMessages() const {
        std::vector<std::string> messages;
        for (const auto& event : receivedEvents()) {
            messages.push_back(event.value("message", "?"));
        }
        return messages;
    }
    std::size_t spooledFiles() const { return filesIn(spoolDir(), "report-").size(); }

    TempDir temp_;
    std::shared_ptr<ManualDispatchRuntime> runtime_ = ManualDispatchRuntime::make();
    testing::LocalHttpServer server_;
    testing::LocalHttpServer stoppedServer_;  // its port refuses connections
    CurlHttpClient curl_;
    std::unique_ptr<LinuxErrorReportingClient> client_;
};

TEST_F(LinuxErrorReportingClientTest, SendsAMessageReportAsThisExactEnvelope) {
    auto& client = start();
    client.setUser({"ungWv48Bz-pBQUDeXa4iIw",
                    std::nullopt,
                    std::nullopt,
                    {{"app_version", "1.4.2"}, {"app_build", "87"}}});
    runtime_->advanceBy(milliseconds(1500));
    client.captureMessage("Device identifier unavailable, using fallback", [](ReportScope& scope) {
        scope.setLevel(ReportLevel::error);
        scope.setExtras({{"operation", "DeviceIDProvider.deviceID"},
                         {"uses_fallback", true},
                         {"source_file", "DeviceIDProvider"},
                         {"source_line", 57}});
    });
    runtime_->runUntilIdle();

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, kPath);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/x-tovalo-envelope");
    EXPECT_EQ(requests[0].header("X-Tovalo-Auth"),
              std::string("key=") + kKey + ", client=tovalo-native/1.0");

    auto envelope = parseEnvelope(requests[0].body);
    ASSERT_EQ(envelope.lineCount, 3u);
    const std::string id = envelope.event.value("event_id", "");
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
    EXPECT_EQ(envelope.header,
              (Json{{"event_id", id}, {"dsn", kDsn}, {"sent_at", "2026-01-01T00:00:01.500Z"}}));
    EXPECT_EQ(envelope.item, (Json{{"type", "event"}, {"length", envelope.payload.size()}}));

    // The machine's details vary; what they hold is checked, then they are set aside.
    EXPECT_EQ(envelope.event["contexts"]["os"]["name"], "Linux");
    EXPECT_TRUE(envelope.event["contexts"]["os"].contains("kernel_version"));
    envelope.event.erase("contexts");
    EXPECT_EQ(envelope.event, Json::parse(R"({
        "event_id": ")" + id + R"(",
        "timestamp": "2026-01-01T00:00:01.500Z",
        "level": "error",
        "platform": "native",
        "environment": "production",
        "release": "tovalo@1.4.2+87",
        "message": "Device identifier unavailable, using fallback",
        "user": {"id": "ungWv48Bz-pBQUDeXa4iIw",
                 "data": {"app_build": "87", "app_version": "1.4.2"}},
        "tags": {},
        "extra": {"operation": "DeviceIDProvider.deviceID", "source_file": "DeviceIDProvider",
                  "source_line": 57, "uses_fallback": true}
    })"));
    EXPECT_EQ(spooledFiles(), 0u);
}

TEST_F(LinuxErrorReportingClientTest, SendsAnErrorReportAsThisExactEvent) {
    auto& client = start();
    client.captureError(
        Error{"org.tovalo.capture", -3801, "The stream stopped"}, [](ReportScope& scope) {
            scope.setLevel(ReportLevel::warning);
            scope.setTags({{"error_domain", "org.tovalo.capture"}, {"error_code", "-3801"}});
            scope.setExtras({{"operation", "StreamSessionHandler.stopCapture"},
                             {"window_id", 4242},
                             {"ratio", 0.25}});
        });
    runtime_->runUntilIdle();

    const auto events = receivedEvents();
    ASSERT_EQ(events.size(), 1u);
    Json event = events[0];
    event.erase("contexts");
    event.erase("event_id");
    EXPECT_EQ(event, Json::parse(R"({
        "timestamp": "2026-01-01T00:00:00.000Z",
        "level": "warning",
        "platform": "native",
        "environment": "production",
        "release": "tovalo@1.4.2+87",
        "exception": {"type": "org.tovalo.capture", "value": "The stream stopped",
                      "code": -3801, "handled": true},
        "tags": {"error_code": "-3801", "error_domain": "org.tovalo.capture"},
        "extra": {"operation": "StreamSessionHandler.stopCapture", "ratio": 0.25,
                  "window_id": 4242}
    })"));
}

TEST_F(LinuxErrorReportingClientTest, DerivesTheEndpointFromTheDsnWithoutAnOverride) {
    auto c = config();
    c.endpointOverride.reset();
    client_ = std::make_unique<LinuxErrorReportingClient>(runtime_, curl_, c);
    auto o = options();
    o.dsn = std::string("http://") + kKey + "@127.0.0.1:" + std::to_string(server_.port()) + "/7";
    client_->start(o);
    message(*client_, "hello");
    runtime_->runUntilIdle();

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/api/7/envelope/");
    EXPECT_EQ(parseEnvelope(requests[0].body).header["dsn"], o.dsn);
}

TEST_F(LinuxErrorReportingClientTest, StaysOffWithAnInvalidDsnOrBeforeStart) {
    client_ = std::make_unique<LinuxErrorReportingClient>(runtime_, curl_, config());
    message(*client_, "before start");
    auto o = options();
    o.dsn = "https://not-a-key@errors.example.com/42";
    client_->start(o);
    client_->start(options());  // a second start changes nothing
    message(*client_, "after start");
    runtime_->advanceBy(seconds(60));

    EXPECT_FALSE(client_->isEnabled());
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_EQ(spooledFiles(), 0u);
}

TEST_F(LinuxErrorReportingClientTest, StartingTwiceKeepsTheFirstOptions) {
    auto& client = start();
    auto o = options();
    o.environment = "staging";
    client.start(o);
    message(client, "hello");
    runtime_->runUntilIdle();
    ASSERT_EQ(receivedEvents().size(), 1u);
    EXPECT_EQ(receivedEvents()[0]["environment"], "production");
}

TEST_F(LinuxErrorReportingClientTest, CaptureDoesNoWorkOnTheCallersThread) {
    auto& client = start();
    runtime_->runUntilIdle();
    message(client, "queued");
    EXPECT_EQ(spooledFiles(), 0u);
    EXPECT_TRUE(server_.requests().empty());
    runtime_->runUntilIdle();
    EXPECT_EQ(receivedMessages(), std::vector<std::string>{"queued"});
}

TEST_F(LinuxErrorReportingClientTest, RetriesAfterAServerErrorWithBackOff) {
    server_.enqueueResponse(500, "down");
    server_.enqueueResponse(503, "still down");
    auto& client = start();
    message(client, "persistent");
    runtime_->runUntilIdle();
    EXPECT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(spooledFiles(), 1u);

    runtime_->advanceBy(milliseconds(4999));
    EXPECT_EQ(server_.requests().size(), 1u);
    runtime_->advanceBy(milliseconds(1));  // 5 s after the first failure
    EXPECT_EQ(server_.requests().size(), 2u);
    runtime_->advanceBy(seconds(10));  // then 10 s after the second
    EXPECT_EQ(server_.requests().size(), 3u);
    EXPECT_EQ(spooledFiles(), 0u);

    // Every attempt carried the same event, so the service can tell repeats apart.
    const auto events = receivedEvents();
    EXPECT_EQ(events[0]["event_id"], events[2]["event_id"]);
}

TEST_F(LinuxErrorReportingClientTest, OfflineReportsWaitInTheSpoolUntilTheServerIsBack) {
    SwitchableHttpClient http(stoppedServer_.url(""));
    auto& client = start(config(), http);
    for (const char* text : {"one", "two", "three"}) {
        message(client, text);
    }
    runtime_->advanceBy(seconds(100));  // several refused attempts
    EXPECT_EQ(spooledFiles(), 3u);
    EXPECT_TRUE(server_.requests().empty());

    http.switchTo(server_.url(""));
    runtime_->advanceBy(seconds(600));
    EXPECT_EQ(receivedMessages(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(spooledFiles(), 0u);
}

TEST_F(LinuxErrorReportingClientTest, ARefusedReportIsDeletedAndTheRestStillGoOut) {
    server_.enqueueResponse(400, "{\"detail\": \"bad envelope\"}");
    auto& client = start();
    message(client, "refused");
    message(client, "accepted");
    runtime_->runUntilIdle();
    EXPECT_EQ(receivedMessages(), (std::vector<std::string>{"refused", "accepted"}));
    EXPECT_EQ(spooledFiles(), 0u);
    runtime_->advanceBy(seconds(600));
    EXPECT_EQ(server_.requests().size(), 2u);
}

TEST_F(LinuxErrorReportingClientTest, ReportsSurviveARestartOfTheClient) {
    {
        auto c = config();
        c.endpointOverride = stoppedServer_.url(kPath);
        auto& client = start(c, curl_);
        message(client, "written to the spool");
        runtime_->runUntilIdle();
        message(client, "still in memory when the client goes");
        client_.reset();
    }
    EXPECT_EQ(spooledFiles(), 2u);

    start();
    runtime_->runUntilIdle();
    EXPECT_EQ(
        receivedMessages(),
        (std::vector<std::string>{"written to the spool", "still in memory when the client goes"}));
}

TEST_F(LinuxErrorReportingClientTest, TheSpoolBoundDropsTheOldestReports) {
    auto c = config();
    c.endpointOverride = stoppedServer_.url(kPath);
    c.spoolLimits.maxReports = 3;
    auto& client = start(c, curl_);
    for (int i = 1; i <= 5; ++i) {
        message(client, "report " + std::to_string(i));
        runtime_->runUntilIdle();
    }
    EXPECT_EQ(spooledFiles(), 3u);
    EXPECT_EQ(client.spool().droppedCount(), 2u);
    client_.reset();

    start();
    runtime_->runUntilIdle();
    EXPECT_EQ(receivedMessages(), (std::vector<std::string>{"report 3", "report 4", "report 5"}));
}

TEST_F(LinuxErrorReportingClientTest, AFullCaptureQueueDropsTheOldestCaptures) {
    auto c = config();
    c.maxQueuedCaptures = 3;
    auto& client = start(c, curl_);
    for (int i = 1; i <= 5; ++i) {
        message(client, "capture " + std::to_string(i));
    }
    EXPECT_EQ(client.droppedCaptureCount(), 2u);
    runtime_->runUntilIdle();
    EXPECT_EQ(receivedMessages(),
              (std::vector<std::string>{"capture 3", "capture 4", "capture 5"}));
}

TEST_F(LinuxErrorReportingClientTest, CorruptSpoolFilesAreSkippedAndRemoved) {
    writeFile(std::filesystem::path(spoolDir()) / "report-00000000000000000001.json",
              "{\"event_id\": \"cut off");
    writeFile(std::filesystem::path(spoolDir()) / "report-00000000000000000002.json",
              std::string("\x00\xFF\x13", 3));
    auto& client = start();
    message(client, "fine");
    runtime_->runUntilIdle();
    EXPECT_EQ(receivedMessages(), std::vector<std::string>{"fine"});
    EXPECT_EQ(spooledFiles(), 0u);
}

TEST_F(LinuxErrorReportingClientTest, AnUnwritableSpoolKeepsReportsInMemory) {
    // A regular file where the spool's parent folder should be.
    writeFile(temp_.path() / "state", "not a folder");
    SwitchableHttpClient http(stoppedServer_.url(""));
    auto& client = start(config(), http);
    message(client, "kept in memory");
    runtime_->advanceBy(seconds(30));
    EXPECT_TRUE(server_.requests().empty());

    http.switchTo(server_.url(""));
    runtime_->advanceBy(seconds(600));
    EXPECT_EQ(receivedMessages(), std::vector<std::string>{"kept in memory"});
}

TEST_F(LinuxErrorReportingClientTest, HostileInputBecomesValidBoundedJson) {
    Value deep = "bottom";
    for (int i = 0; i < 200; ++i) {
        deep = ValueMap{{"level", std::move(deep)}};
    }
    ValueMap wide;
    for (int i = 0; i < 10000; ++i) {
        wide.emplace("key" + std::to_string(i), std::string(100, 'w'));
    }
    const std::string huge(1024 * 1024, 'h');
    const std::string invalid = "bad \xC3\x28 bytes \xFF\xFE end";

    auto& client = start();
    client.setUser({"user-\xFF", std::string("a@b\x80"), std::nullopt, {{"nan", std::nan("")}}});
    client.captureMessage(invalid + huge, [&](ReportScope& scope) {
        scope.setTags({{"tag\xFF", invalid}});
        scope.setExtras({{"nan", std::numeric_limits<double>::quiet_NaN()},
                         {"inf", -std::numeric_limits<double>::infinity()},
                         {"huge", huge},
                         {"deep", deep},
                         {"wide", wide},
                         {"bad\xC0", invalid}});
    });
    runtime_->runUntilIdle();

    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string payload = parseEnvelope(requests[0].body).payload;
    EXPECT_LT(payload.size(), 400u * 1024);
    // The strict parser refuses invalid UTF-8, so parsing is the check.
    const Json event = Json::parse(payload);
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_TRUE(event["message"].get<std::string>().starts_with("bad " + fffd + "( bytes " + fffd +
                                                                fffd + " end"));
    EXPECT_LE(event["message"].get<std::string>().size(), 8192u);
    EXPECT_TRUE(event["extra"]["nan"].is_null());
    EXPECT_TRUE(event["extra"]["inf"].is_null());
    EXPECT_LE(event["extra"]["huge"].get<std::string>().size(), 8192u);
    EXPECT_TRUE(event["extra"].contains("bad" + fffd));
    EXPECT_EQ(event["user"]["id"], "user-" + fffd);
    EXPECT_TRUE(event["user"]["data"]["nan"].is_null());
    EXPECT_EQ(event["tags"]["tag" + fffd], "bad " + fffd + "( bytes " + fffd + fffd + " end");
}

TEST_F(LinuxErrorReportingClientTest, ReportsAHangingMainQueueOnce) {
    auto c = config();
    client_ = std::make_unique<LinuxErrorReportingClient>(runtime_, curl_, c);
    auto o = options();
    o.enableAppHangTracking = true;
    client_->start(o);
    runtime_->runUntilIdle();

    // A main-queue task that advances the clock itself keeps the main queue busy for 3 s.
    runtime_->mainQueue()->async([this] { runtime_->advanceBy(seconds(3)); });
    runtime_->runUntilIdle();
    runtime_->advanceBy(seconds(10));  // turning normally again

    const auto events = receivedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["message"], "App hanging for at least 2000 ms");
    EXPECT_EQ(events[0]["level"], "error");
    EXPECT_EQ(events[0]["tags"]["type"], "app_hang");
}

TEST_F(LinuxErrorReportingClientTest, ACorruptCrashRecordIsRemovedWithoutAReport) {
    writeFile(std::filesystem::path(spoolDir()) / "crash-1-deadbeef.record", "garbage\n");
    start();
    runtime_->runUntilIdle();
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_TRUE(filesIn(spoolDir(), "crash-").empty());
}

// Real threads: captures and user changes from many threads at once all reach the service,
// each exactly once. Waits for the server in real time, bounded, rather than on a virtual clock.
TEST(LinuxErrorReportingClientThreadsTest, CapturesFromManyThreadsAllArriveOnce) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 20;
    TempDir temp;
    testing::LocalHttpServer server;
    CurlHttpClient http;
    auto runtime = DispatchRuntime::makeThreaded(std::make_shared<RunLoop>());
    LinuxErrorReportingClient::Config config;
    config.spoolDirectory = (temp.path() / "error-reports").string();
    config.endpointOverride = server.url(kPath);
    config.release = "tovalo@1.4.2+87";
    // Room for the whole burst: the uploader may fall behind, and no bound is under test here.
    config.spoolLimits.maxReports = 1000;
    {
        LinuxErrorReportingClient client(runtime, http, config);
        ErrorReportingOptions options;
        options.dsn = kDsn;
        client.start(options);

        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&client, t] {
                for (int i = 0; i < kPerThread; ++i) {
                    client.setUser({"device-" + std::to_string(t), std::nullopt, std::nullopt, {}});
                    client.captureMessage(std::to_string(t) + "/" + std::to_string(i), {});
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        ASSERT_TRUE(server.waitForRequests(kThreads * kPerThread, std::chrono::seconds(30)));
        EXPECT_EQ(client.droppedCaptureCount(), 0u);
        EXPECT_EQ(client.spool().droppedCount(), 0u);
    }
    runtime.reset();  // joins the workers before the HTTP client and the server go

    std::set<std::string> messages;
    for (const auto& request : server.requests()) {
        messages.insert(parseEnvelope(request.body).event.value("message", "?"));
    }
    EXPECT_EQ(server.requests().size(), std::size_t{kThreads * kPerThread});
    EXPECT_EQ(messages.size(), std::size_t{kThreads * kPerThread});
}

}  // namespace
}  // namespace tovalo
