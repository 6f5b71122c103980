#include "platform/linux/crash_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>

namespace tovalo {
namespace {

const std::string kRecord =
    "tovalo-crash-record 1\n"
    "signal 11\n"
    "name SIGSEGV\n"
    "code 1\n"
    "address 0x0000000000000010\n"
    "time 1767225601500\n"
    "context {\"environment\":\"production\",\"release\":\"tovalo@1.0+7\","
    "\"user\":{\"id\":\"dev-1\",\"data\":{\"app_build\":\"7\"}}}\n"
    "backtrace\n"
    "/usr/bin/tovalo(+0x1234)[0x5555]\n"
    "/lib/libc.so.6(abort+0x10)[0x7f00]\n";

TEST(CrashRecordTest, ReadsEveryFieldTheHandlerWrites) {
    const auto record = CrashRecord::parse(kRecord);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->signalNumber, SIGSEGV);
    EXPECT_EQ(record->signalName, "SIGSEGV");
    EXPECT_EQ(record->signalCode, 1);
    EXPECT_EQ(record->faultAddress, 0x10u);
    ASSERT_TRUE(record->time);
    EXPECT_EQ(
        std::chrono::duration_cast<std::chrono::milliseconds>(record->time->time_since_epoch())
            .count(),
        1767225601500);
    EXPECT_EQ(record->frames, (std::vector<std::string>{"/usr/bin/tovalo(+0x1234)[0x5555]",
                                                        "/lib/libc.so.6(abort+0x10)[0x7f00]"}));
}

TEST(CrashRecordTest, RefusesTextThatIsNotARecord) {
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"another file", "{\"event_id\": \"x\"}"},
        {"wrong version", "tovalo-crash-record 2\nsignal 11\n"},
        {"no signal", "tovalo-crash-record 1\nname SIGSEGV\nbacktrace\n"},
        {"signal not a number", "tovalo-crash-record 1\nsignal eleven\n"},
        {"cut off before the signal", "tovalo-crash-record 1\nsig"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(CrashRecord::parse(c.text)) << c.name;
    }
}

TEST(CrashRecordTest, ARecordCutOffInTheBacktraceStillCounts) {
    const auto record = CrashRecord::parse("tovalo-crash-record 1\nsignal 6\nbacktrace\n/bin/x(");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->signalName, "SIGABRT");  // named from the number when the name is missing
    EXPECT_EQ(record->frames, std::vector<std::string>{"/bin/x("});
}

TEST(CrashRecordTest, BecomesAFatalReportOfTheRunThatCrashed) {
    ErrorReportEvent defaults;
    defaults.eventId = "00112233445566778899aabbccddeeff";
    defaults.environment = "staging";
    defaults.release = "tovalo@2.0+9";  // the run that reads the record is a newer one
    defaults.user = ReportUser{"dev-2", std::nullopt, std::nullopt, {}};

    const ErrorReportEvent event = crashReportEvent(*CrashRecord::parse(kRecord), defaults);
    EXPECT_EQ(event.eventId, defaults.eventId);
    EXPECT_EQ(event.level, ReportLevel::fatal);
    EXPECT_EQ(event.message, "Fatal signal SIGSEGV");
    EXPECT_EQ(event.environment, "production");
    EXPECT_EQ(event.release, "tovalo@1.0+7");
    ASSERT_TRUE(event.user);
    EXPECT_EQ(event.user->userId, "dev-1");
    EXPECT_EQ(event.user->data, (ValueMap{{"app_build", "7"}}));
    EXPECT_EQ(formatReportTimestamp(event.timestamp), "2026-01-01T00:00:01.500Z");
    EXPECT_EQ(event.tags, (ReportTags{{"type", "crash"}}));
    EXPECT_EQ(event.extras, (ValueMap{{"signal_number", 11},
                                      {"signal_name", "SIGSEGV"},
                                      {"signal_code", 1},
                                      {"fault_address", "0x0000000000000010"}}));
    ASSERT_TRUE(event.exception);
    EXPECT_EQ(event.exception->type, "SIGSEGV");
    EXPECT_EQ(event.exception->value, "Fatal signal SIGSEGV at address 0x0000000000000010");
    EXPECT_FALSE(event.exception->handled);
    EXPECT_EQ(event.exception->mechanism, "signal");
    EXPECT_EQ(event.exception->frames.size(), 2u);
}

TEST(CrashRecordTest, WithoutAUsableContextTheCurrentRunsScopeIsUsed) {
    ErrorReportEvent defaults;
    defaults.environment = "production";
    defaults.release = "tovalo@2.0+9";
    for (const char* context : {"", "context not json\n", "context [1,2]\n"}) {
        const auto record = CrashRecord::parse(std::string("tovalo-crash-record 1\nsignal 4\n") +
                                               context + "backtrace\n");
        ASSERT_TRUE(record) << context;
        const ErrorReportEvent event = crashReportEvent(*record, defaults);
        EXPECT_EQ(event.release, "tovalo@2.0+9") << context;
        EXPECT_EQ(event.message, "Fatal signal SIGILL") << context;
    }
}

TEST(CrashRecordTest, ContextLineIsOneLineOfBoundedJson) {
    ReportUser user{
        "dev\n1", std::string("a@b.c"), std::nullopt, {{"long", std::string(20000, 'x')}}};
    const std::string line = crashContextLine("production", "tovalo@1.0+7", user);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_LT(line.size(), 10000u);
    const auto record =
        CrashRecord::parse("tovalo-crash-record 1\nsignal 11\ncontext " + line + "\nbacktrace\n");
    const ErrorReportEvent event = crashReportEvent(*record, ErrorReportEvent{});
    ASSERT_TRUE(event.user);
    EXPECT_EQ(event.user->userId, "dev\n1");
    EXPECT_EQ(event.user->email, "a@b.c");
    EXPECT_EQ(event.release, "tovalo@1.0+7");
}

}  // namespace
}  // namespace tovalo
