#include "base/threaded_executor.h"

#include <algorithm>
#include <vector>

namespace tovalo {

ThreadedExecutor::ThreadedExecutor(std::shared_ptr<MainThreadExecutor> mainThread)
    : mainThread_(std::move(mainThread)),
      mainThreadId_(mainThread_->mainThreadId()),
      timerThread_([this] { timerLoop(); }) {}

ThreadedExecutor::~ThreadedExecutor() {
    shutdown();
}

void ThreadedExecutor::submit(ExecutionTarget target, Job job) {
    if (target == ExecutionTarget::mainThread) {
        std::shared_ptr<MainThreadExecutor> mainThread;
        {
            std::lock_guard lock(mainThreadMutex_);
            mainThread = mainThread_;
        }
        if (mainThread) {
            mainThread->post(std::move(job));
        }
    } else {
        pool_.submit(std::move(job));
    }
}

Executor::TimerId ThreadedExecutor::scheduleAt(TimePoint deadline, Duration leeway, Job fire) {
    TimerId id = 0;
    {
        std::lock_guard lock(timerMutex_);
        if (stopping_) {
            return 0;
        }
        id = nextTimerId_++;
        timers_.emplace(id, Timer{deadline, deadline + leeway, std::move(fire)});
    }
    timerWake_.notify_one();
    return id;
}

void ThreadedExecutor::cancelTimer(TimerId id) {
    Job dropped;
    {
        std::lock_guard lock(timerMutex_);
        auto it = timers_.find(id);
        if (it == timers_.end()) {
            return;
        }
        dropped = std::move(it->second.fire);
        timers_.erase(it);
    }
}

void ThreadedExecutor::timerLoop() {
    std::unique_lock lock(timerMutex_);
    while (!stopping_) {
        if (timers_.empty()) {
            timerWake_.wait(lock);
            continue;
        }
        // Sleep until the most urgent timer's latest acceptable moment, then fire everything
        // already due: timers with leeway coalesce into fewer wake-ups.
        const auto wakeAt = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
                                return a.second.latest < b.second.latest;
                            })->second.latest;
        if (clock_.now() < wakeAt) {
            timerWake_.wait_until(lock, wakeAt);
            continue;
        }
        const auto now = clock_.now();
        std::vector<std::pair<TimePoint, Job>> due;
        for (auto it = timers_.begin(); it != timers_.end();) {
            if (it->second.deadline <= now) {
                due.emplace_back(it->second.deadline, std::move(it->second.fire));
                it = timers_.erase(it);
            } else {
                ++it;
            }
        }
        std::stable_sort(due.begin(), due.end(),
                         [](auto& a, auto& b) { return a.first < b.first; });
        lock.unlock();
        for (auto& entry : due) {
            entry.second();
        }
        due.clear();
        lock.lock();
    }
}

bool ThreadedExecutor::wait(DispatchGroupState& group, std::optional<TimePoint> deadline) {
    // A worker blocked here hands its place to another, so the work it waits for can run.
    pool_.beginBlocking();
    bool done = true;
    {
        std::unique_lock lock(group.mutex);
        if (!deadline) {
            group.condition.wait(lock, [&group] { return group.count == 0; });
        } else {
            done =
                group.condition.wait_until(lock, *deadline, [&group] { return group.count == 0; });
        }
    }
    pool_.endBlocking();
    return done;
}

void ThreadedExecutor::shutdown() {
    {
        std::lock_guard lock(timerMutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        timers_.clear();
    }
    timerWake_.notify_all();
    {
        std::lock_guard lock(mainThreadMutex_);
        mainThread_.reset();
    }
    if (timerThread_.joinable()) {
        timerThread_.join();
    }
    pool_.shutdown();
}

}  // namespace tovalo
