// Queue semantics on real threads. These run under ThreadSanitizer too, so every check here is
// also a data-race check of the queue machinery. Nothing sleeps: threads meet through groups,
// `sync` and the run loop.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/dispatch_group.h"
#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/repeating_timer.h"
#include "base/run_loop.h"

namespace tovalo {
namespace {

class ThreadedDispatchTest : public ::testing::Test {
  protected:
    std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
    std::shared_ptr<DispatchRuntime> runtime = DispatchRuntime::makeThreaded(loop);
};

TEST_F(ThreadedDispatchTest, SerialQueueRunsOneTaskAtATimeInOrderFromManyProducers) {
    auto queue = runtime->makeSerialQueue("serial");
    constexpr int kProducers = 4;
    constexpr int kPerProducer = 2000;
    std::vector<std::vector<int>> seen(kProducers);  // guarded by the queue itself
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i) {
                queue->async([&, p, i] {
                    if (inside.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    seen[static_cast<std::size_t>(p)].push_back(i);
                    inside.fetch_sub(1);
                });
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    queue->sync([] {});
    EXPECT_FALSE(overlapped);
    for (const auto& perProducer : seen) {
        ASSERT_EQ(perProducer.size(), static_cast<std::size_t>(kPerProducer));
        for (int i = 0; i < kPerProducer; ++i) {
            EXPECT_EQ(perProducer[static_cast<std::size_t>(i)], i);
        }
    }
}

TEST_F(ThreadedDispatchTest, BarrierWriteIsExclusiveAgainstConcurrentReads) {
    auto queue = runtime->makeConcurrentQueue("cache");
    std::atomic<int> readers{0};
    std::atomic<bool> writerSawReaders{false};
    long cache = 0;  // plain data: the barrier is the only protection, TSan checks it
    DispatchGroup group(runtime->sharedExecutor());
    for (int i = 0; i < 400; ++i) {
        if (i % 10 == 0) {
            group.enter();
            queue->asyncBarrier([&] {
                if (readers.load() != 0) {
                    writerSawReaders = true;
                }
                ++cache;
                group.leave();
            });
        } else {
            group.async(queue, [&] {
                readers.fetch_add(1);
                volatile long copy = cache;
                (void)copy;
                readers.fetch_sub(1);
            });
        }
    }
    EXPECT_TRUE(group.wait());
    EXPECT_FALSE(writerSawReaders);
    EXPECT_EQ(queue->syncBarrier([&] { return cache; }), 40);
}

TEST_F(ThreadedDispatchTest, NestedSyncAcrossQueuesDoesNotStarveThePool) {
    // Each task blocks in `sync` on the next queue; a pool of fixed size would deadlock here.
    std::vector<std::shared_ptr<DispatchQueue>> chain;
    for (int i = 0; i < 12; ++i) {
        chain.push_back(runtime->makeSerialQueue("chain" + std::to_string(i)));
    }
    std::function<int(std::size_t)> descend = [&](std::size_t depth) -> int {
        if (depth == chain.size()) {
            return 0;
        }
        return chain[depth]->sync([&] { return 1 + descend(depth + 1); });
    };
    EXPECT_EQ(descend(0), 12);
}

TEST_F(ThreadedDispatchTest, MainQueueWorkRunsOnTheRunLoopThread) {
    auto background = runtime->makeSerialQueue("background");
    std::atomic<bool> done{false};
    bool wasMain = false;
    bool backgroundWasMain = true;
    background->async([&] {
        backgroundWasMain = runtime->isMainThread();
        runtime->mainQueue()->async([&] {
            wasMain = runtime->isMainThread();
            done = true;
        });
    });
    loop->runUntil([&] { return done.load(); });
    EXPECT_TRUE(wasMain);
    EXPECT_FALSE(backgroundWasMain);
}

TEST_F(ThreadedDispatchTest, NotificationsAndRemovalRaceSafely) {
    NotificationCenter center;
    auto queue = runtime->makeConcurrentQueue("posters");
    std::atomic<int> delivered{0};
    DispatchGroup group(runtime->sharedExecutor());
    for (int round = 0; round < 50; ++round) {
        auto token = std::make_shared<ObserverToken>(
            center.addObserver("n", [&](const Notification&) { delivered.fetch_add(1); }));
        for (int i = 0; i < 8; ++i) {
            group.async(queue, [&] { center.post("n"); });
        }
        group.async(queue, [token] { token->reset(); });
    }
    EXPECT_TRUE(group.wait());
    const int afterRemoval = delivered.load();
    center.post("n");
    EXPECT_EQ(delivered.load(), afterRemoval);
    EXPECT_GT(afterRemoval, 0);
}

TEST_F(ThreadedDispatchTest, DelayedWorkAndTimersFireOnRealTime) {
    auto queue = runtime->makeSerialQueue("timers");
    DispatchGroup group(runtime->sharedExecutor());
    group.enter();
    queue->asyncAfter(milliseconds(5), [&] { group.leave(); });
    std::atomic<int> ticks{0};
    group.enter();
    RepeatingTimer timer(queue, milliseconds(2), milliseconds(1), [&] {
        if (ticks.fetch_add(1) == 2) {
            group.leave();
        }
    });
    // Generous bound: only a hang fails this, not slowness.
    EXPECT_TRUE(group.wait(seconds(30)));
    timer.cancel();
    EXPECT_GE(ticks.load(), 3);
}

}  // namespace
}  // namespace tovalo
