#include "telemetry/error_reporter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"

namespace tovalo {
namespace {

using sim::RecordedReport;
using sim::SimErrorReportingClient;
using sim::SimUncaughtExceptionHooks;

const Error kError{"StreamDomain", 3, "stream stopped"};

class ErrorReporterTest : public ::testing::Test {
  protected:
    // Everything the uncaught-exception handler installed before ours saw, and what had been
    // reported by the time it ran.
    struct PreviousHandlerLog {
        std::vector<std::string> exceptionNames;
        std::vector<std::size_t> reportsWhenCalled;
    };

    UncaughtExceptionHandler previousHandler() {
        return [log = previousLog_, client = &client_](const UncaughtException& exception) {
            log->exceptionNames.push_back(exception.name);
            log->reportsWhenCalled.push_back(client->reports().size());
        };
    }

    RecordedReport onlyReport() const {
        const auto reports = client_.reports();
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? RecordedReport{} : reports.front();
    }

    std::shared_ptr<PreviousHandlerLog> previousLog_ = std::make_shared<PreviousHandlerLog>();
    SimErrorReportingClient client_;
    SimUncaughtExceptionHooks hooks_{previousHandler()};
    ErrorReporter reporter_{client_, hooks_, "https://0123456789abcdef0123456789abcdef@host/42"};
};

TEST_F(ErrorReporterTest, StartsTheClientOnceWithTheFixedOptions) {
    EXPECT_FALSE(reporter_.isStarted());
    reporter_.start();
    reporter_.start();

    EXPECT_TRUE(reporter_.isStarted());
    const auto starts = client_.starts();
    ASSERT_EQ(starts.size(), 1u);
    const ErrorReportingOptions& options = starts.front();
    EXPECT_EQ(options.dsn, "https://0123456789abcdef0123456789abcdef@host/42");
    EXPECT_FALSE(options.debug);
    EXPECT_TRUE(options.sendDefaultPii);
    EXPECT_TRUE(options.enableCrashHandler);
    EXPECT_TRUE(options.enableAppHangTracking);
    EXPECT_EQ(options.environment, "production");
    EXPECT_EQ(options.tracesSampleRate, 1.0);
}

TEST_F(ErrorReporterTest, EverythingBeforeStartIsDroppedNotQueued) {
    reporter_.capture(kError);
    reporter_.capture("message", ReportLevel::warning);
    reporter_.setUser("device", "1.0", "7");
    reporter_.start();

    EXPECT_TRUE(client_.reports().empty());
    EXPECT_EQ(client_.user(), std::nullopt);

    reporter_.capture(kError);
    EXPECT_EQ(client_.reports().size(), 1u);
}

TEST_F(ErrorReporterTest, ErrorReportCarriesLevelExtrasAndTheCallSite) {
    reporter_.start();
    const ValueMap extras = {{"operation", "A.b"}, {"window_id", 7}};
    reporter_.capture(kError, ReportLevel::warning, std::nullopt, extras);
    const auto line = static_cast<std::int64_t>(__LINE__ - 1);

    const RecordedReport report = onlyReport();
    EXPECT_EQ(report.error, kError);
    EXPECT_EQ(report.message, std::nullopt);
    EXPECT_EQ(report.scope.level(), ReportLevel::warning);
    const ValueMap expected = {{"operation", "A.b"},
                               {"window_id", 7},
                               {"source_file", "error_reporter_test"},
                               {"source_line", line}};
    EXPECT_EQ(report.scope.extras(), expected);
}

TEST_F(ErrorReporterTest, MessageReportCarriesTheGivenLevel) {
    reporter_.start();
    reporter_.capture("Device identifier unavailable", ReportLevel::fatal);

    const RecordedReport report = onlyReport();
    EXPECT_EQ(report.message, "Device identifier unavailable");
    EXPECT_EQ(report.error, std::nullopt);
    EXPECT_EQ(report.scope.level(), ReportLevel::fatal);
}

// The call site always ends the context; an extra with the same name cannot replace it.
TEST_F(ErrorReporterTest, SourceLocationIsAlwaysPresentAndNeverOverridden) {
    reporter_.start();
    const std::vector<ValueMap> extrasCases = {
        {},
        {{"operation", "A.b"}},
        {{"source_file", "spoofed"}, {"source_line", 1}, {"operation", "A.b"}},
    };
    for (const auto& extras : extrasCases) {
        reporter_.capture(kError, ReportLevel::error, std::nullopt, extras);
    }
    const auto line = static_cast<std::int64_t>(__LINE__ - 2);

    const auto reports = client_.reports();
    ASSERT_EQ(reports.size(), extrasCases.size());
    for (std::size_t i = 0; i < reports.size(); ++i) {
        SCOPED_TRACE(i);
        const ValueMap& extras = reports[i].scope.extras();
        ASSERT_TRUE(extras.contains("source_file"));
        EXPECT_EQ(extras.at("source_file"), Value("error_reporter_test"));
        EXPECT_EQ(extras.at("source_line"), Value(line));
        EXPECT_EQ(extras.size(), extrasCases[i].contains("operation") ? 3u : 2u);
    }
}

TEST_F(ErrorReporterTest, TagsReplaceTheScopesTagsOnlyWhenGiven) {
    ReportScope base;
    base.setTags({{"session", "abc"}});
    client_.setBaseScope(base);
    reporter_.start();

    reporter_.capture(kError);
    reporter_.capture(kError, ReportLevel::error,
                      ReportTags{{"error_domain", "D"}, {"error_code", "-3"}});

    const auto reports = client_.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].scope.tags(), (ReportTags{{"session", "abc"}}));
    EXPECT_EQ(reports[1].scope.tags(), (ReportTags{{"error_domain", "D"}, {"error_code", "-3"}}));
}

TEST_F(ErrorReporterTest, SetUserSendsTheDeviceIdAndTheVersions) {
    reporter_.start();
    reporter_.setUser("ungWv48Bz-pBQUDeXa4iIw", "1.4.2", "142");

    const auto user = client_.user();
    ASSERT_TRUE(user.has_value());
    EXPECT_EQ(user->userId, "ungWv48Bz-pBQUDeXa4iIw");
    EXPECT_EQ(user->email, std::nullopt);
    EXPECT_EQ(user->username, std::nullopt);
    EXPECT_EQ(user->data, (ValueMap{{"app_version", "1.4.2"}, {"app_build", "142"}}));
}

// A failing client never makes the facade throw, and the facade never reports the failure.
TEST_F(ErrorReporterTest, ClientFailuresAreContained) {
    client_.setFailing(true);
    EXPECT_NO_THROW(reporter_.start());
    EXPECT_FALSE(reporter_.isStarted());

    client_.setFailing(false);
    reporter_.start();
    client_.setFailing(true);
    EXPECT_NO_THROW(reporter_.capture(kError));
    EXPECT_NO_THROW(reporter_.capture("message", ReportLevel::error));
    EXPECT_NO_THROW(reporter_.setUser("device", "1", "1"));
    EXPECT_NO_THROW(reporter_.handleUncaughtException({"std::logic_error", "x", {}, {}}));

    client_.setFailing(false);
    EXPECT_TRUE(client_.reports().empty());
}

TEST_F(ErrorReporterTest, SourceFileNameDropsFolderAndExtension) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"/work/src/telemetry/device_id_provider.cpp", "device_id_provider"},
        {"device_id_provider.cpp", "device_id_provider"},
        {"src/archive.tar.gz", "archive.tar"},  // only the last extension
        {"/src/v1.2/file", "file"},             // a dot in a folder is not an extension
        {"/src/.hidden", ".hidden"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sourceFileName(c.path), c.expected) << c.path;
    }
}

// --- Uncaught exceptions ---

TEST_F(ErrorReporterTest, UncaughtExceptionIsReportedAsFatalWithItsDescription) {
    reporter_.start();
    reporter_.installExceptionHandler();
    hooks_.raise({"std::runtime_error", "boom", {"frame 0", "frame 1"}, std::nullopt});

    const RecordedReport report = onlyReport();
    EXPECT_EQ(report.message, "Uncaught NSException");
    EXPECT_EQ(report.scope.level(), ReportLevel::fatal);
    EXPECT_EQ(report.scope.tags(), (ReportTags{{"type", "uncaught_exception"}}));
    const ValueMap& extras = report.scope.extras();
    EXPECT_EQ(extras.at("exception_name"), Value("std::runtime_error"));
    EXPECT_EQ(extras.at("reason"), Value("boom"));
    EXPECT_EQ(extras.at("call_stack"), Value::stringList({"frame 0", "frame 1"}));
    EXPECT_EQ(extras.at("source_file"), Value("error_reporter"));
    EXPECT_TRUE(extras.at("source_line").isInt());
    EXPECT_FALSE(extras.contains("operation"));
    EXPECT_FALSE(extras.contains("user_info"));
}

TEST_F(ErrorReporterTest, UncaughtExceptionReasonAndUserInfo) {
    struct Case {
        const char* label;
        std::optional<std::string> reason;
        std::optional<ValueMap> userInfo;
        std::string expectedReason;
        std::optional<ValueMap> expectedUserInfo;
    };
    const std::vector<Case> cases = {
        {"reason and user info", "bad state", ValueMap{{"key", "value"}}, "bad state",
         ValueMap{{"key", "value"}}},
        {"no reason", std::nullopt, std::nullopt, "", std::nullopt},
        {"empty reason", "", std::nullopt, "", std::nullopt},
        {"empty user info", "r", ValueMap{}, "r", std::nullopt},
    };
    reporter_.start();
    reporter_.installExceptionHandler();
    for (const auto& c : cases) {
        hooks_.raise({"E", c.reason, {}, c.userInfo});
    }

    const auto reports = client_.reports();
    ASSERT_EQ(reports.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].label);
        const ValueMap& extras = reports[i].scope.extras();
        EXPECT_EQ(extras.at("reason"), Value(cases[i].expectedReason));
        const auto found = extras.find("user_info");
        const std::optional<Value> userInfo =
            found == extras.end() ? std::nullopt : std::optional<Value>(found->second);
        const std::optional<Value> expected = cases[i].expectedUserInfo
                                                  ? std::optional<Value>(*cases[i].expectedUserInfo)
                                                  : std::nullopt;
        EXPECT_EQ(userInfo, expected);
    }
}

TEST_F(ErrorReporterTest, PreviousHandlerRunsAfterTheReport) {
    reporter_.start();
    reporter_.installExceptionHandler();
    hooks_.raise({"std::runtime_error", "boom", {}, std::nullopt});

    EXPECT_EQ(previousLog_->exceptionNames, std::vector<std::string>{"std::runtime_error"});
    EXPECT_EQ(previousLog_->reportsWhenCalled, std::vector<std::size_t>{1});
}

TEST_F(ErrorReporterTest, PreviousHandlerRunsAlsoWhenNotStarted) {
    reporter_.installExceptionHandler();
    hooks_.raise({"std::runtime_error", "boom", {}, std::nullopt});

    EXPECT_TRUE(client_.reports().empty());
    EXPECT_EQ(previousLog_->exceptionNames.size(), 1u);
}

TEST(ErrorReporterWithoutPreviousHandlerTest, ReportsAndReturns) {
    SimErrorReportingClient client;
    SimUncaughtExceptionHooks hooks;
    ErrorReporter reporter(client, hooks, "dsn");
    reporter.start();
    reporter.installExceptionHandler();

    EXPECT_TRUE(hooks.raise({"int", std::nullopt, {}, std::nullopt}));
    EXPECT_EQ(client.reports().size(), 1u);
}

// Installing twice must not remember our own handler as the previous one, which would report
// every exception twice (or forever).
TEST_F(ErrorReporterTest, InstallingTwiceInstallsOnceAndKeepsTheFirstPreviousHandler) {
    reporter_.start();
    reporter_.installExceptionHandler();
    reporter_.installExceptionHandler();
    EXPECT_EQ(hooks_.setHandlerCount(), 1);

    hooks_.raise({"std::runtime_error", "boom", {}, std::nullopt});
    EXPECT_EQ(client_.reports().size(), 1u);
    EXPECT_EQ(previousLog_->exceptionNames.size(), 1u);
}

TEST_F(ErrorReporterTest, DestroyedReporterPutsThePreviousHandlerBack) {
    {
        ErrorReporter shortLived(client_, hooks_, "dsn");
        shortLived.start();
        shortLived.installExceptionHandler();
    }
    hooks_.raise({"std::runtime_error", "boom", {}, std::nullopt});

    EXPECT_TRUE(client_.reports().empty());
    EXPECT_EQ(previousLog_->exceptionNames.size(), 1u);
}

TEST_F(ErrorReporterTest, DestroyedReporterLeavesAHandlerInstalledAfterIt) {
    int laterHandlerCalls = 0;
    {
        ErrorReporter shortLived(client_, hooks_, "dsn");
        shortLived.installExceptionHandler();
        hooks_.setHandler([&](const UncaughtException&) { ++laterHandlerCalls; });
    }
    hooks_.raise({"std::runtime_error", "boom", {}, std::nullopt});

    EXPECT_EQ(laterHandlerCalls, 1);
    EXPECT_TRUE(previousLog_->exceptionNames.empty());
}

}  // namespace
}  // namespace tovalo
