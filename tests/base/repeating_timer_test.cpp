#include "base/repeating_timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/manual_dispatch_runtime.h"

namespace tovalo {
namespace {

class RepeatingTimerTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    TimePoint start = runtime->now();
    std::vector<Duration> firings;

    std::function<void()> stamp() {
        return [this] { firings.push_back(runtime->now() - start); };
    }
};

TEST_F(RepeatingTimerTest, FiresEveryIntervalWithoutDrift) {
    RepeatingTimer timer(runtime->mainQueue(), milliseconds(800), milliseconds(400), stamp());
    runtime->advanceBy(milliseconds(2500));
    EXPECT_EQ(firings,
              (std::vector<Duration>{milliseconds(800), milliseconds(1600), milliseconds(2400)}));
    EXPECT_EQ(timer.tolerance(), milliseconds(400));
}

TEST_F(RepeatingTimerTest, CancelAndDestructionStopFurtherFirings) {
    auto timer = std::make_unique<RepeatingTimer>(runtime->mainQueue(), seconds(1),
                                                  Duration::zero(), stamp());
    runtime->advanceBy(milliseconds(1500));
    timer->cancel();
    EXPECT_FALSE(timer->isActive());
    runtime->advanceBy(seconds(5));
    EXPECT_EQ(firings.size(), 1u);

    auto second = std::make_unique<RepeatingTimer>(runtime->mainQueue(), seconds(1),
                                                   Duration::zero(), stamp());
    second.reset();
    runtime->advanceBy(seconds(5));
    EXPECT_EQ(firings.size(), 1u);
    EXPECT_EQ(runtime->manualExecutor().pendingTimerCount(), 0u);
}

TEST_F(RepeatingTimerTest, HandlerMayCancelItsOwnTimer) {
    std::unique_ptr<RepeatingTimer> timer;
    int count = 0;
    timer =
        std::make_unique<RepeatingTimer>(runtime->mainQueue(), seconds(1), Duration::zero(), [&] {
            if (++count == 2) {
                timer->cancel();
            }
        });
    runtime->advanceBy(seconds(10));
    EXPECT_EQ(count, 2);
}

}  // namespace
}  // namespace tovalo
