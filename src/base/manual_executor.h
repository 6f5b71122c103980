#pragma once

// The deterministic engine for tests: every job runs on the thread that drains it, in
// submission order, and time moves only when the test advances the ManualClock. Waiting (a
// blocking `sync`, a group wait) runs queued work in place; a wait that nothing can ever satisfy
// is a deadlock and aborts with a message instead of hanging.

#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "base/executor.h"

namespace tovalo {

class ManualExecutor final : public Executor {
  public:
    ManualExecutor() = default;

    const Clock& clock() const override { return clock_; }
    ManualClock& manualClock() { return clock_; }

    // The test's thread is the main thread: outside any task, or inside a main-queue task.
    bool isMainThread() const override;

    void submit(ExecutionTarget target, Job job) override;
    TimerId scheduleAt(TimePoint deadline, Duration leeway, Job fire) override;
    void cancelTimer(TimerId id) override;
    bool wait(DispatchGroupState& group, std::optional<TimePoint> deadline) override;
    void shutdown() override;

    // Runs one ready job; false when none is ready.
    bool runOne();
    // Runs ready jobs until none is left (jobs may queue more). Returns how many ran.
    std::size_t runUntilIdle();
    // Moves virtual time forward to `target`, firing each due timer at its own deadline and
    // running until idle after each one.
    void advanceTo(TimePoint target);
    void advanceBy(Duration d) { advanceTo(clock_.now() + d); }

    bool hasReadyJobs() const;
    std::size_t pendingTimerCount() const;
    std::optional<TimePoint> nextTimerDeadline() const;

  private:
    // Fires the earliest timer due at or before `limit`; false when there is none.
    bool fireNextTimer(TimePoint limit);

    ManualClock clock_;
    mutable std::mutex mutex_;
    std::deque<Job> ready_;
    // Keyed by (deadline, sequence) so equal deadlines fire in scheduling order.
    std::map<std::pair<TimePoint, TimerId>, Job> timers_;
    std::map<TimerId, TimePoint> timerDeadlines_;
    TimerId nextTimerId_ = 1;
    bool shutDown_ = false;
};

}  // namespace tovalo
