#include "base/run_loop.h"

namespace tovalo {

RunLoop::RunLoop() : owner_(std::this_thread::get_id()) {}

void RunLoop::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void RunLoop::stop() {
    {
        std::lock_guard lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_one();
}

void RunLoop::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopRequested_ || !jobs_.empty(); });
            if (stopRequested_) {
                stopRequested_ = false;
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void RunLoop::runUntil(const std::function<bool()>& condition) {
    while (!condition()) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            // The condition may turn true on another thread without a post: wake on any post,
            // and re-check whenever a job ran. Callers make the condition's change post a job.
            wake_.wait(lock, [this] { return !jobs_.empty(); });
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

std::size_t RunLoop::runPending() {
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard lock(mutex_);
        jobs.swap(jobs_);
    }
    for (auto& job : jobs) {
        job();
    }
    return jobs.size();
}

}  // namespace tovalo
