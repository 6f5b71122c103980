#include "platform/linux/error_report_envelope.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>

#include "error_report_test_support.h"
#include "platform/linux/error_report_event.h"

namespace tovalo {
namespace {

using error_report_testing::Json;
using error_report_testing::parseEnvelope;

constexpr const char* kDsn = "https://0123456789abcdef0123456789abcdef@errors.example.com/42";

WallTime at(std::int64_t unixMillis) {
    return WallTime(
        std::chrono::duration_cast<WallTime::duration>(std::chrono::milliseconds(unixMillis)));
}

TEST(ErrorReportEventTest, TimestampsAreUtcWithMilliseconds) {
    const struct {
        std::int64_t millis;
        const char* expected;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1767225600000, "2026-01-01T00:00:00.000Z"},
        {1767225600000 + 86'399'999, "2026-01-01T23:59:59.999Z"},
        {951782400123, "2000-02-29T00:00:00.123Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatReportTimestamp(at(c.millis)), c.expected) << c.millis;
    }
}

TEST(ErrorReportEventTest, EventIdsAreRandomVersion4UuidsWithoutDashes) {
    const std::regex shape("[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string id = newErrorReportEventId();
        EXPECT_TRUE(std::regex_match(id, shape)) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(ErrorReportEventTest, SerialisesOnlyTheFieldsThatAreSet) {
    ErrorReportEvent event;
    event.eventId = "00112233445566778899aabbccddeeff";
    event.timestamp = at(1767225600000);
    event.level = ReportLevel::warning;
    event.message = "disk almost full";

    const Json json = Json::parse(serializeErrorReportEvent(event));
    EXPECT_EQ(json, Json::parse(R"({
        "event_id": "00112233445566778899aabbccddeeff",
        "timestamp": "2026-01-01T00:00:00.000Z",
        "level": "warning",
        "platform": "native",
        "message": "disk almost full",
        "tags": {},
        "extra": {}
    })"));
}

TEST(ErrorReportEnvelopeTest, WrapsAStoredEventInThreeLines) {
    // Stored pretty-printed, as a hand-edited file might be: the payload still goes as one line.
    const std::string stored = "{\n  \"event_id\": \"abc123\",\n  \"level\": \"error\"\n}";
    const auto envelope = makeErrorReportEnvelope(stored, kDsn, at(1767225600000 + 1500));
    ASSERT_TRUE(envelope);
    EXPECT_EQ(envelope->eventId, "abc123");

    const auto parsed = parseEnvelope(envelope->body);
    ASSERT_EQ(parsed.lineCount, 3u);
    EXPECT_EQ(parsed.header, Json::parse(R"({"event_id": "abc123", "dsn": ")" + std::string(kDsn) +
                                         R"(", "sent_at": "2026-01-01T00:00:01.500Z"})"));
    EXPECT_EQ(parsed.item, Json::parse(R"({"type": "event", "length": )" +
                                       std::to_string(parsed.payload.size()) + "}"));
    EXPECT_EQ(parsed.event, Json::parse(stored));
}

TEST(ErrorReportEnvelopeTest, RefusesWhatCannotBeAStoredEvent) {
    const char* corrupt[] = {
        "",
        "not json at all",
        "{\"event_id\": \"abc\"",  // cut short
        "[1, 2, 3]",
        "{}",
        "{\"event_id\": 17}",
        "{\"event_id\": \"\"}",
        "{\"event_id\": \"a\xFF\"}",  // invalid UTF-8 inside a string
    };
    for (const char* text : corrupt) {
        EXPECT_FALSE(makeErrorReportEnvelope(text, kDsn, at(0))) << text;
    }
}

TEST(ErrorReportEnvelopeTest, AuthenticationHeaderNamesTheKeyAndTheClient) {
    EXPECT_EQ(errorReportAuthValue("0123456789abcdef0123456789abcdef"),
              "key=0123456789abcdef0123456789abcdef, client=tovalo-native/1.0");
}

}  // namespace
}  // namespace tovalo
