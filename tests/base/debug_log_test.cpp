#include "base/debug_log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tovalo {
namespace {

TEST(DebugLogFormatTest, Formats) {
    struct Case {
        const char* name;
        DebugLogLine line;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"tag and message",
         {"PinnedWindow", "close completed", {}},
         "[PinnedWindow] close completed"},
        {"properties keep their order",
         {"PinnedWindow", "present request", {{"window_id", 42}, {"existing", false}}},
         "[PinnedWindow] present request window_id=42 existing=false"},
        {"numbers",
         {"Stream",
          "Scheduling capture restart",
          {{"delay_ms", 80}, {"ratio", 0.5}, {"big", 1e21}}},
         "[Stream] Scheduling capture restart delay_ms=80 ratio=0.5 big=1e+21"},
        {"plain strings are bare",
         {"PinnedOverlay", "startCapture aborted", {{"reason", "not_pinned"}, {"ts", "12.345"}}},
         "[PinnedOverlay] startCapture aborted reason=not_pinned ts=12.345"},
        {"strings that would break the token are quoted",
         {"T",
          "m",
          {{"spaced", "two words"},
           {"empty", ""},
           {"equals", "a=b"},
           {"quote", "say \"hi\""},
           {"newline", "a\nb"}}},
         R"([T] m spaced="two words" empty="" equals="a=b" quote="say \"hi\"" newline="a\nb")"},
        {"control characters are quoted", {"T", "m", {{"tab", "a\tb"}}}, "[T] m tab=\"a\tb\""},
        {"null, lists and maps",
         {"T",
          "m",
          {{"none", Value()},
           {"list", Value(ValueList{Value(1), Value("x")})},
           {"map", Value(ValueMap{{"k", Value(true)}})}}},
         R"([T] m none=null list=[1, "x"] map={"k": true})"},
        {"no tag",
         {"", "Window selection already in progress", {}},
         "Window selection already in progress"},
        {"no message", {"StreamSession", "", {{"window_id", 7}}}, "[StreamSession] window_id=7"},
        {"message with its own spacing is kept",
         {"System", "macOS version: 14.5.0 (major: 14 )", {}},
         "[System] macOS version: 14.5.0 (major: 14 )"},
        {"nothing at all", {"", "", {}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(formatDebugLine(c.line), c.text);
    }
}

// Captures every line written while it lives.
class DebugLogTest : public ::testing::Test {
  protected:
    std::vector<DebugLogLine> lines;
    ScopedDebugLogSink capture{[this](const DebugLogLine& line) { lines.push_back(line); }};
};

TEST_F(DebugLogTest, SinkReceivesTheLineAsWritten) {
    DebugLog::write("PinnedWindow", "close request", {{"window_id", 42u}, {"panel", 7}});
    DebugLog::write("Stream", "stopCapture completed");

    const std::vector<DebugLogLine> expected = {
        {"PinnedWindow", "close request", {{"window_id", 42}, {"panel", 7}}},
        {"Stream", "stopCapture completed", {}},
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(DebugLogTest, InnerSinkHandsBackToTheOuterOne) {
    std::vector<std::string> inner;
    {
        ScopedDebugLogSink scoped([&](const DebugLogLine& line) { inner.push_back(line.message); });
        DebugLog::write("T", "to inner");
    }
    DebugLog::write("T", "to outer");

    EXPECT_EQ(inner, std::vector<std::string>{"to inner"});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "to outer");
}

TEST_F(DebugLogTest, LineWrittenFromInsideASinkIsDroppedNotDeadlocked) {
    {
        ScopedDebugLogSink scoped([&](const DebugLogLine& line) {
            lines.push_back(line);
            DebugLog::write("Nested", "from the sink");
        });
        DebugLog::write("T", "outer");
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "outer");
}

TEST_F(DebugLogTest, ThrowingSinkDoesNotReachTheWriter) {
    {
        ScopedDebugLogSink scoped([](const DebugLogLine&) { throw std::runtime_error("sink"); });
        EXPECT_NO_THROW(DebugLog::write("T", "lost"));
    }
    DebugLog::write("T", "delivered");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "delivered");
}

// The sink appends without a lock of its own; the log runs one sink call at a time.
TEST_F(DebugLogTest, LinesFromManyThreadsArriveWholeAndInOrderPerThread) {
    constexpr int kThreads = 4;
    constexpr int kLinesPerThread = 200;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int n = 0; n < kLinesPerThread; ++n) {
                    DebugLog::write(std::to_string(t), "line", {{"n", n}});
                }
            });
        }
    }
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
    std::vector<std::int64_t> next(kThreads, 0);
    for (const auto& line : lines) {
        const auto thread = static_cast<std::size_t>(std::stoi(line.tag));
        ASSERT_LT(thread, next.size());
        ASSERT_EQ(line.properties.size(), 1u);
        EXPECT_EQ(line.properties[0].second.asInt(), next[thread]++);
    }
}

TEST(DebugLogStderrTest, DefaultSinkWritesOneLine) {
    testing::internal::CaptureStderr();
    DebugLog::writeToStderr({"PinnedWindow", "overlay created", {{"window_id", 42}}});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[PinnedWindow] overlay created window_id=42\n");
}

TEST(DebugLogStderrTest, EmptySinkRestoresStderr) {
    DebugLogSink previous = DebugLog::setSink([](const DebugLogLine&) {});
    DebugLog::setSink({});
    testing::internal::CaptureStderr();
    DebugLog::write("T", "to stderr");
    const std::string written = testing::internal::GetCapturedStderr();
    DebugLog::setSink(std::move(previous));
    EXPECT_EQ(written, "[T] to stderr\n");
}

// Which half runs depends on the build: Debug builds log, others compile the macro out.
TEST_F(DebugLogTest, MacroLogsOnlyWhenEnabledAndEvaluatesArgumentsOnlyThen) {
    int evaluations = 0;
    auto windowID = [&] {
        ++evaluations;
        return 42u;
    };
    TOVALO_DEBUG_LOG("PinnedWindow", "present request",
                     {{"window_id", windowID()}, {"existing", true}});
    TOVALO_DEBUG_LOG("PinnedWindow", "close skipped (in-progress)", {{"window_id", windowID()}});
    TOVALO_DEBUG_LOG("Stream", "stopCapture completed");

#ifdef TOVALO_NO_DEBUG_LOG
    EXPECT_EQ(evaluations, 0);
    EXPECT_TRUE(lines.empty());
#else
    EXPECT_EQ(evaluations, 2);
    const std::vector<DebugLogLine> expected = {
        {"PinnedWindow", "present request", {{"window_id", 42}, {"existing", true}}},
        {"PinnedWindow", "close skipped (in-progress)", {{"window_id", 42}}},
        {"Stream", "stopCapture completed", {}},
    };
    EXPECT_EQ(lines, expected);
#endif
}

}  // namespace
}  // namespace tovalo
