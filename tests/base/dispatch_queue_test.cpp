// Queue semantics on virtual time: what later components rely on when they hop between queues.

#include "base/dispatch_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/dispatch_group.h"
#include "base/manual_dispatch_runtime.h"

namespace tovalo {
namespace {

class DispatchQueueTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::vector<std::string> log;

    auto record(std::string entry) {
        return [this, entry = std::move(entry)] { log.push_back(entry); };
    }
};

TEST_F(DispatchQueueTest, NothingRunsUntilDrainedThenSerialOrderHolds) {
    auto queue = runtime->makeSerialQueue("serial");
    for (int i = 0; i < 100; ++i) {
        queue->async(record(std::to_string(i)));
    }
    EXPECT_TRUE(log.empty());
    runtime->runUntilIdle();
    ASSERT_EQ(log.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(log[static_cast<std::size_t>(i)], std::to_string(i));
    }
}

TEST_F(DispatchQueueTest, TaskEnqueuedFromATaskRunsAfterItOnTheSameDrain) {
    auto queue = runtime->makeSerialQueue("serial");
    queue->async([&] {
        log.push_back("outer");
        queue->async(record("inner"));
        log.push_back("outer-end");
    });
    runtime->runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"outer", "outer-end", "inner"}));
}

TEST_F(DispatchQueueTest, BarrierWaitsForEarlierReadsAndHoldsBackLaterOnes) {
    auto queue = runtime->makeConcurrentQueue("concurrent");
    int inFlight = 0;
    int maxDuringBarrier = 0;
    auto read = [&](std::string name) {
        return [&, name] {
            ++inFlight;
            log.push_back(name);
            --inFlight;
        };
    };
    queue->async(read("r1"));
    queue->async(read("r2"));
    queue->asyncBarrier([&] {
        maxDuringBarrier = inFlight;
        log.push_back("write");
    });
    queue->async(read("r3"));
    runtime->runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"r1", "r2", "write", "r3"}));
    EXPECT_EQ(maxDuringBarrier, 0);
}

TEST_F(DispatchQueueTest, SyncReturnsTheResultAndRunsBehindEarlierWork) {
    auto queue = runtime->makeSerialQueue("serial");
    queue->async(record("first"));
    const int value = queue->sync([&] {
        log.push_back("sync");
        return 42;
    });
    EXPECT_EQ(value, 42);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "sync"}));
}

TEST_F(DispatchQueueTest, SyncFromInsideTheSameQueueRunsInlineInsteadOfDeadlocking) {
    struct Case {
        const char* name;
        bool concurrent;
        bool barrier;
    };
    for (const Case c : {Case{"serial", false, false}, Case{"concurrent", true, false},
                         Case{"concurrent barrier", true, true}}) {
        SCOPED_TRACE(c.name);
        auto queue =
            c.concurrent ? runtime->makeConcurrentQueue("q") : runtime->makeSerialQueue("q");
        bool ranInline = false;
        queue->async([&] {
            EXPECT_TRUE(queue->isCurrent());
            auto body = [&] { ranInline = queue->isCurrent(); };
            c.barrier ? queue->syncBarrier(body) : queue->sync(body);
        });
        runtime->runUntilIdle();
        EXPECT_TRUE(ranInline);
    }
}

TEST_F(DispatchQueueTest, MarkerTellsWhichQueueRunsTheCurrentTask) {
    auto a = runtime->makeSerialQueue("a");
    auto b = runtime->makeSerialQueue("b");
    EXPECT_FALSE(a->isCurrent());
    EXPECT_EQ(DispatchQueue::current(), nullptr);
    a->async([&] {
        EXPECT_TRUE(a->isCurrent());
        EXPECT_FALSE(b->isCurrent());
        // While `a` waits in sync, the task on `b` sees `b` as current, not `a`.
        b->sync([&] {
            EXPECT_TRUE(b->isCurrent());
            EXPECT_FALSE(a->isCurrent());
        });
        EXPECT_TRUE(a->isCurrent());
    });
    runtime->runUntilIdle();
}

TEST_F(DispatchQueueTest, MainThreadIsTheTestThreadOutsideTasksAndInsideMainQueueTasks) {
    auto background = runtime->makeSerialQueue("background");
    EXPECT_TRUE(runtime->isMainThread());
    bool onMainFromBackground = true;
    bool onMainFromMain = false;
    background->async([&] { onMainFromBackground = runtime->isMainThread(); });
    runtime->mainQueue()->async([&] { onMainFromMain = runtime->isMainThread(); });
    runtime->runUntilIdle();
    EXPECT_FALSE(onMainFromBackground);
    EXPECT_TRUE(onMainFromMain);
}

TEST_F(DispatchQueueTest, MainQueueSyncOnTheMainThreadRunsInline) {
    bool ran = false;
    runtime->mainQueue()->sync([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(runtime->runUntilIdle(), 0u);
}

TEST_F(DispatchQueueTest, AsyncAfterFiresAtItsVirtualDeadlineInDeadlineOrder) {
    auto queue = runtime->makeSerialQueue("delayed");
    const auto start = runtime->now();
    std::vector<Duration> firedAt;
    auto stamp = [&](std::string name) {
        return [&, name] {
            log.push_back(name);
            firedAt.push_back(runtime->now() - start);
        };
    };
    queue->asyncAfter(milliseconds(200), stamp("200ms"));
    queue->asyncAfter(milliseconds(80), stamp("80ms"));
    queue->asyncAfter(milliseconds(80), stamp("80ms-second"));

    runtime->advanceBy(milliseconds(79));
    EXPECT_TRUE(log.empty());
    runtime->advanceBy(milliseconds(1));
    EXPECT_EQ(log, (std::vector<std::string>{"80ms", "80ms-second"}));
    runtime->advanceBy(seconds(1));
    EXPECT_EQ(log, (std::vector<std::string>{"80ms", "80ms-second", "200ms"}));
    EXPECT_EQ(firedAt,
              (std::vector<Duration>{milliseconds(80), milliseconds(80), milliseconds(200)}));
    EXPECT_EQ(runtime->now() - start, milliseconds(1080));
}

TEST_F(DispatchQueueTest, CancelledWorkNeverStarts) {
    auto queue = runtime->makeSerialQueue("q");
    auto delayed = queue->asyncAfter(milliseconds(10), record("delayed"));
    auto queued =
        queue->asyncCancellable([&](const CancellationToken&) { log.push_back("queued"); });
    delayed.cancel();
    queued.cancel();
    runtime->advanceBy(seconds(1));
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(delayed.isCancelled());
}

TEST_F(DispatchQueueTest, LongJobSeesCancellationBetweenSteps) {
    auto worker = runtime->makeSerialQueue("worker");
    int steps = 0;
    TaskHandle handle;
    handle = worker->asyncCancellable([&](const CancellationToken& token) {
        for (int i = 0; i < 10 && !token.isCancelled(); ++i) {
            ++steps;
            if (i == 2) {
                handle.cancel();  // cancelled from outside while the job runs
            }
        }
    });
    runtime->runUntilIdle();
    EXPECT_EQ(steps, 3);
}

TEST_F(DispatchQueueTest, GroupNotifiesOnceEverythingLeftAndWaitPassesVirtualTime) {
    auto queue = runtime->makeConcurrentQueue("q");
    DispatchGroup group(runtime->sharedExecutor());
    group.async(queue, record("a"));
    group.enter();
    queue->asyncAfter(milliseconds(500), [&] {
        log.push_back("late");
        group.leave();
    });
    group.notify(runtime->mainQueue(), record("notified"));

    const auto start = runtime->now();
    EXPECT_FALSE(group.wait(milliseconds(100)));
    EXPECT_EQ(runtime->now() - start, milliseconds(100));
    EXPECT_TRUE(group.wait());
    EXPECT_EQ(runtime->now() - start, milliseconds(500));
    runtime->runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"a", "late", "notified"}));
}

TEST_F(DispatchQueueTest, GroupIgnoresAnUnmatchedLeave) {
    DispatchGroup group(runtime->sharedExecutor());
    group.leave();
    group.enter();
    EXPECT_FALSE(group.wait(milliseconds(1)));
    group.leave();
    EXPECT_TRUE(group.wait(milliseconds(1)));
}

TEST_F(DispatchQueueTest, WorkQueuedBeforeTheRuntimeIsDestroyedIsDroppedSafely) {
    auto queue = runtime->makeSerialQueue("q");
    auto witness = std::make_shared<int>(0);
    std::weak_ptr<int> weak = witness;
    queue->asyncAfter(seconds(5), [witness] { ++*witness; });
    queue->async([witness] { ++*witness; });
    witness.reset();
    runtime.reset();
    queue.reset();
    // No job, timer or queue keeps the captured state alive in a cycle.
    EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace tovalo
