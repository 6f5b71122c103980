#include "platform/linux/app_hang_watchdog.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/manual_dispatch_runtime.h"

namespace tovalo {
namespace {

// A watchdog on virtual time. A main-queue task that advances the clock itself stands for a
// blocked main thread: the watchdog's timer fires during the nested advance while the main
// queue is still busy with that task.
class AppHangWatchdogTest : public ::testing::Test {
  protected:
    AppHangWatchdogTest() {
        watchdog_ = std::make_unique<AppHangWatchdog>(
            runtime_, [this](Duration blocked) { hangs_.push_back(blocked); },
            AppHangWatchdog::Options{milliseconds(500), seconds(2)});
        runtime_->runUntilIdle();
    }

    void blockMainQueueFor(Duration d) {
        runtime_->mainQueue()->async([this, d] { runtime_->advanceBy(d); });
        runtime_->runUntilIdle();
    }

    std::shared_ptr<ManualDispatchRuntime> runtime_ = ManualDispatchRuntime::make();
    std::vector<Duration> hangs_;
    std::unique_ptr<AppHangWatchdog> watchdog_;
};

TEST_F(AppHangWatchdogTest, AnIdleMainQueueIsNeverReported) {
    runtime_->advanceBy(seconds(60));
    EXPECT_TRUE(hangs_.empty());
}

TEST_F(AppHangWatchdogTest, ReportsABlockedMainQueueOncePerHang) {
    blockMainQueueFor(seconds(10));
    ASSERT_EQ(hangs_.size(), 1u);
    EXPECT_GE(hangs_[0], seconds(2));

    // The main queue turned again: the next hang is a new one.
    runtime_->advanceBy(seconds(1));
    blockMainQueueFor(seconds(3));
    EXPECT_EQ(hangs_.size(), 2u);
}

TEST_F(AppHangWatchdogTest, ABlockShorterThanTheThresholdIsNotAHang) {
    blockMainQueueFor(milliseconds(1900));
    runtime_->advanceBy(seconds(5));
    EXPECT_TRUE(hangs_.empty());
}

TEST_F(AppHangWatchdogTest, StopsWatchingWhenDestroyed) {
    watchdog_.reset();
    blockMainQueueFor(seconds(10));
    EXPECT_TRUE(hangs_.empty());
    EXPECT_EQ(runtime_->manualExecutor().pendingTimerCount(), 0u);
}

}  // namespace
}  // namespace tovalo
