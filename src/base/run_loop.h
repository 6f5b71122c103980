#pragma once

// A minimal main-thread event loop: the thread that constructs it is its main thread; `run`
// processes posted jobs until `stop`, `runUntil` until a condition holds.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/main_thread_executor.h"

namespace tovalo {

class RunLoop final : public MainThreadExecutor {
  public:
    RunLoop();

    void post(std::function<void()> job) override;
    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }
    std::thread::id mainThreadId() const override { return owner_; }

    // Processes jobs until `stop()` is called (from any thread, or from a job).
    void run();
    void stop();
    // Processes jobs until `condition` is true; it is checked after every job and on every post.
    void runUntil(const std::function<bool()>& condition);
    // Runs the jobs that are queued now and returns how many ran; never blocks.
    std::size_t runPending();

  private:
    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopRequested_ = false;
};

}  // namespace tovalo
