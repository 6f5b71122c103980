#include "platform/linux/analytics_event_queue.h"

#include <gtest/gtest.h>

#include <functional>

#include "analytics_test_support.h"

namespace tovalo {
namespace {

using namespace analytics_testing;

std::string record(int n) {
    return "{\"n\":" + std::to_string(n) + "}";
}

std::vector<std::string> contents(const AnalyticsEventQueue& queue) {
    std::vector<std::string> jsons;
    for (const auto& r : queue.peek(queue.size())) {
        jsons.push_back(r.json);
    }
    return jsons;
}

std::vector<std::string> records(int from, int to) {
    std::vector<std::string> jsons;
    for (int n = from; n <= to; ++n) {
        jsons.push_back(record(n));
    }
    return jsons;
}

class AnalyticsEventQueueTest : public ::testing::Test {
  protected:
    std::unique_ptr<AnalyticsEventQueue> open(std::size_t capacity = 100) {
        auto queue = std::make_unique<AnalyticsEventQueue>(path, capacity);
        queue->load();
        return queue;
    }

    TempDir dir;
    std::string path = dir.file("state/events.journal");
};

TEST_F(AnalyticsEventQueueTest, RecordsSurviveAReopenInOrder) {
    {
        auto queue = open();
        for (int n = 1; n <= 3; ++n) {
            queue->append(record(n));
        }
        queue->sync();
        EXPECT_TRUE(queue->isPersistent());
    }
    auto reopened = open();
    EXPECT_EQ(contents(*reopened), records(1, 3));
}

TEST_F(AnalyticsEventQueueTest, RemovedRecordsStayRemovedAndSequencesKeepIncreasing) {
    std::uint64_t secondSequence = 0;
    {
        auto queue = open();
        for (int n = 1; n <= 4; ++n) {
            queue->append(record(n));
        }
        secondSequence = queue->peek(2).back().sequence;
        queue->removeThrough(secondSequence);
        EXPECT_EQ(contents(*queue), records(3, 4));
    }
    auto reopened = open();
    EXPECT_EQ(contents(*reopened), records(3, 4));
    reopened->append(record(5));
    EXPECT_GT(reopened->peek(3).back().sequence, reopened->peek(2).back().sequence);
    EXPECT_GT(reopened->peek(1).front().sequence, secondSequence);

    reopened->removeThrough(reopened->peek(3).back().sequence);
    EXPECT_TRUE(reopened->empty());
    EXPECT_EQ(fs::file_size(path), 0U) << "an empty queue leaves an empty journal";
}

TEST_F(AnalyticsEventQueueTest, DropsTheOldestBeyondTheCapacity) {
    {
        auto queue = open(3);
        for (int n = 1; n <= 5; ++n) {
            queue->append(record(n));
        }
        EXPECT_EQ(contents(*queue), records(3, 5));
        EXPECT_EQ(queue->droppedCount(), 2U);
    }
    EXPECT_EQ(contents(*open(3)), records(3, 5));
    EXPECT_EQ(contents(*open(2)), records(4, 5)) << "a smaller bound applies to the replay";
}

struct DamageCase {
    const char* name;
    std::function<std::string(const std::string& secondLine)> damage;
};

TEST_F(AnalyticsEventQueueTest, SkipsDamagedLinesAndKeepsTheRest) {
    const DamageCase cases[] = {
        {"checksum mismatch",
         [](std::string line) {
             line[line.size() - 3] = '7';  // inside the JSON of {"n":2}
             return line;
         }},
        {"garbage",
         [](const std::string&) { return std::string("\x01\xFFgarbage") + '\0' + " R 2 {}\n"; }},
        {"overlong line",
         [](const std::string&) { return std::string(2 * 1024 * 1024, 'x') + "\n"; }},
        {"empty line", [](const std::string&) { return std::string("\n"); }},
        {"record lacking its JSON", [](std::string line) { return line.substr(0, 12) + "\n"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(path);
        {
            auto queue = open();
            for (int n = 1; n <= 3; ++n) {
                queue->append(record(n));
            }
        }
        std::istringstream lines(readFile(path));
        std::string first, second, third;
        std::getline(lines, first);
        std::getline(lines, second);
        std::getline(lines, third);
        writeFile(path, first + "\n" + c.damage(second + "\n") + third + "\n");

        auto queue = open();
        EXPECT_EQ(contents(*queue), (std::vector<std::string>{record(1), record(3)}));
        queue->append(record(4));
        queue.reset();
        EXPECT_EQ(contents(*open()), (std::vector<std::string>{record(1), record(3), record(4)}))
            << "the damaged journal was rewritten whole";
    }
}

TEST_F(AnalyticsEventQueueTest, ATornLastLineIsDroppedAndLaterAppendsStayReadable) {
    {
        auto queue = open();
        queue->append(record(1));
        queue->append(record(2));
    }
    const std::string text = readFile(path);
    writeFile(path, text.substr(0, text.size() - 4));  // the crash cut the second line

    auto queue = open();
    EXPECT_EQ(contents(*queue), records(1, 1));
    queue->append(record(3));
    queue.reset();
    EXPECT_EQ(contents(*open()), (std::vector<std::string>{record(1), record(3)}));
}

TEST_F(AnalyticsEventQueueTest, CompactsSoTheJournalStaysNearTheLiveSize) {
    auto queue = open(1000);
    const std::string payload = "{\"pad\":\"" + std::string(200, 'p') + "\"}";
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 10; ++i) {
            queue->append(payload);
        }
        // Deliver all but the newest two, as uploads do.
        queue->removeThrough(queue->peek(queue->size() - 2).back().sequence);
    }
    EXPECT_EQ(queue->size(), 2U);
    EXPECT_LT(fs::file_size(path), 200U * 1024U);
    queue.reset();
    EXPECT_EQ(open(1000)->size(), 2U);
}

TEST_F(AnalyticsEventQueueTest, KeepsRecordsInMemoryWhileTheDiskRefusesAndWritesThemLater) {
    // A regular file where the folder should be: refused even for root.
    const fs::path blocker = dir.path() / "blocked";
    writeFile(blocker, "not a folder");
    const std::string blockedPath = (blocker / "events.journal").string();

    AnalyticsEventQueue queue(blockedPath, 100);
    queue.load();
    queue.append(record(1));
    queue.append(record(2));
    EXPECT_FALSE(queue.isPersistent());
    EXPECT_EQ(contents(queue), records(1, 2));

    fs::remove(blocker);
    queue.append(record(3));
    EXPECT_TRUE(queue.isPersistent());

    AnalyticsEventQueue reopened(blockedPath, 100);
    reopened.load();
    EXPECT_EQ(contents(reopened), records(1, 3));
}

}  // namespace
}  // namespace tovalo
