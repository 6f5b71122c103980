#include "platform/linux/error_report_uploader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "error_report_test_support.h"
#include "platform/linux/error_report_envelope.h"

namespace tovalo {
namespace {

using error_report_testing::parseEnvelope;
using error_report_testing::ScriptedHttpClient;
using error_report_testing::TempDir;

constexpr const char* kKey = "0123456789abcdef0123456789abcdef";
constexpr const char* kDsn = "https://0123456789abcdef0123456789abcdef@errors.example.com/42";
constexpr const char* kEndpoint = "https://errors.example.com/api/42/envelope/";

// An uploader over a spool in a temporary folder, an HTTP client that answers from a script,
// and virtual time: back-off of 5 s doubling up to 40 s.
class ErrorReportUploaderTest : public ::testing::Test {
  protected:
    ErrorReportUploaderTest() {
        ErrorReportUploader::Options options;
        options.endpoint = kEndpoint;
        options.dsn = kDsn;
        options.publicKey = kKey;
        options.initialBackoff = seconds(5);
        options.maxBackoff = seconds(40);
        uploader_ = std::make_unique<ErrorReportUploader>(
            runtime_->makeSerialQueue("upload"), http_, spool_, runtime_->clock(), options);
    }

    void addReport(const std::string& id) {
        spool_->add(R"({"event_id": ")" + id + R"(", "message": "m"})");
    }

    // The event ids of the requests made so far, in order.
    std::vector<std::string> sentIds() const {
        std::vector<std::string> ids;
        for (const auto& request : http_.requests()) {
            ids.push_back(parseEnvelope(request.body).header.value("event_id", "?"));
        }
        return ids;
    }

    std::size_t spooled() const { return spool_->list().size(); }

    std::shared_ptr<ManualDispatchRuntime> runtime_ = ManualDispatchRuntime::make();
    TempDir temp_;
    std::shared_ptr<ErrorReportSpool> spool_ =
        std::make_shared<ErrorReportSpool>((temp_.path() / "spool").string());
    ScriptedHttpClient http_;
    std::unique_ptr<ErrorReportUploader> uploader_;
};

TEST_F(ErrorReportUploaderTest, PostsEachReportOldestFirstAndDeletesWhatWasAccepted) {
    addReport("a1");
    addReport("b2");
    uploader_->schedule();
    EXPECT_TRUE(http_.requests().empty()) << "the caller's thread sends nothing";

    runtime_->runUntilIdle();
    EXPECT_EQ(sentIds(), (std::vector<std::string>{"a1", "b2"}));
    EXPECT_EQ(spooled(), 0u);
    EXPECT_EQ(uploader_->stats().sent, 2u);

    const HttpRequest request = http_.requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, kEndpoint);
    EXPECT_EQ(request.headers,
              (std::vector<std::pair<std::string, std::string>>{
                  {"Content-Type", "application/x-tovalo-envelope"},
                  {"X-Tovalo-Auth", std::string("key=") + kKey + ", client=tovalo-native/1.0"}}));
}

TEST_F(ErrorReportUploaderTest, WhatTheServiceAnswersDecidesWhetherAReportStays) {
    const struct {
        long status;
        bool kept;
    } cases[] = {
        {200, false}, {202, false},                                          // accepted
        {400, false}, {401, false}, {413, false},                            // can never succeed
        {0, true},    {408, true},  {429, true},  {500, true}, {503, true},  // try again later
    };
    for (const auto& c : cases) {
        for (const auto& entry : spool_->list()) {
            spool_->remove(entry);
        }
        http_.respond(c.status);
        addReport("r");
        uploader_->schedule();
        runtime_->runUntilIdle();
        EXPECT_EQ(spooled(), c.kept ? 1u : 0u) << "status " << c.status;
        // Let any retry go through (the fallback answer is 200) before the next case.
        runtime_->advanceBy(seconds(60));
        EXPECT_EQ(spooled(), 0u) << "status " << c.status;
    }
}

TEST_F(ErrorReportUploaderTest, BacksOffExponentiallyUpToTheCapAndStartsOverAfterSuccess) {
    http_.setFallback(503);
    addReport("a1");
    uploader_->schedule();
    runtime_->runUntilIdle();
    ASSERT_EQ(http_.requests().size(), 1u);

    // Retries 5, 10, 20, 40, 40 s after each failure: at 5, 15, 35, 75, 115 s.
    const int retryTimes[] = {5, 15, 35, 75, 115};
    const TimePoint start = runtime_->now();
    std::size_t expected = 1;
    for (const int at : retryTimes) {
        runtime_->advanceTo(start + seconds(at) - milliseconds(1));
        EXPECT_EQ(http_.requests().size(), expected) << "before " << at << " s";
        runtime_->advanceTo(start + seconds(at));
        EXPECT_EQ(http_.requests().size(), ++expected) << "at " << at << " s";
    }

    // New reports while backing off wait for the retry instead of hammering the service.
    addReport("b2");
    uploader_->schedule();
    runtime_->runUntilIdle();
    EXPECT_EQ(http_.requests().size(), expected);

    http_.setFallback(200);
    runtime_->advanceBy(seconds(40));
    EXPECT_EQ(spooled(), 0u);
    EXPECT_EQ(uploader_->nextBackoff(), seconds(5));
    EXPECT_FALSE(uploader_->isBackingOff());
}

TEST_F(ErrorReportUploaderTest, DeletesACorruptReportWithoutSendingItAndGoesOn) {
    spool_->add("{\"truncated");
    addReport("ok");
    uploader_->schedule();
    runtime_->runUntilIdle();
    EXPECT_EQ(sentIds(), std::vector<std::string>{"ok"});
    EXPECT_EQ(spooled(), 0u);
    EXPECT_EQ(uploader_->stats().corrupt, 1u);
}

TEST_F(ErrorReportUploaderTest, DestroyingTheUploaderCancelsItsRetry) {
    http_.respond(500);
    addReport("a1");
    uploader_->schedule();
    runtime_->runUntilIdle();
    uploader_.reset();
    runtime_->advanceBy(seconds(600));
    EXPECT_EQ(http_.requests().size(), 1u);
    EXPECT_EQ(spooled(), 1u);
}

}  // namespace
}  // namespace tovalo
