#pragma once

// The production engine: queue work on a WorkerPool, main-queue work on the UI thread's loop,
// timers on one timer thread, time from the steady clock.

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "base/executor.h"
#include "base/main_thread_executor.h"
#include "base/worker_pool.h"

namespace tovalo {

class ThreadedExecutor final : public Executor {
  public:
    explicit ThreadedExecutor(std::shared_ptr<MainThreadExecutor> mainThread);
    ~ThreadedExecutor() override;

    const Clock& clock() const override { return clock_; }
    bool isMainThread() const override { return mainThreadId_ == std::this_thread::get_id(); }

    void submit(ExecutionTarget target, Job job) override;
    TimerId scheduleAt(TimePoint deadline, Duration leeway, Job fire) override;
    void cancelTimer(TimerId id) override;
    bool wait(DispatchGroupState& group, std::optional<TimePoint> deadline) override;
    void shutdown() override;

  private:
    struct Timer {
        TimePoint deadline;
        TimePoint latest;  // deadline + leeway: the timer thread wakes no later than this
        Job fire;
    };

    void timerLoop();

    SystemClock clock_;
    // Released at shutdown: main-queue jobs still waiting in the loop hold queues, queues hold
    // this engine, and holding the loop here would close that cycle.
    std::mutex mainThreadMutex_;
    std::shared_ptr<MainThreadExecutor> mainThread_;
    std::thread::id mainThreadId_;
    WorkerPool pool_;

    std::mutex timerMutex_;
    std::condition_variable timerWake_;
    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
    bool stopping_ = false;
    std::thread timerThread_;
};

}  // namespace tovalo
