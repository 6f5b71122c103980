#include "base/manual_executor.h"

#include <cstdio>
#include <cstdlib>

#include "base/dispatch_queue.h"

namespace tovalo {

bool ManualExecutor::isMainThread() const {
    const DispatchQueue* current = DispatchQueue::current();
    return current == nullptr || current->kind() == DispatchQueue::Kind::main;
}

void ManualExecutor::submit(ExecutionTarget /*target*/, Job job) {
    std::lock_guard lock(mutex_);
    if (!shutDown_) {
        ready_.push_back(std::move(job));
    }
}

Executor::TimerId ManualExecutor::scheduleAt(TimePoint deadline, Duration /*leeway*/, Job fire) {
    std::lock_guard lock(mutex_);
    if (shutDown_) {
        return 0;
    }
    const TimerId id = nextTimerId_++;
    timers_.emplace(std::make_pair(deadline, id), std::move(fire));
    timerDeadlines_.emplace(id, deadline);
    return id;
}

void ManualExecutor::cancelTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    auto it = timerDeadlines_.find(id);
    if (it == timerDeadlines_.end()) {
        return;
    }
    timers_.erase({it->second, id});
    timerDeadlines_.erase(it);
}

bool ManualExecutor::runOne() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (ready_.empty()) {
            return false;
        }
        job = std::move(ready_.front());
        ready_.pop_front();
    }
    job();
    return true;
}

std::size_t ManualExecutor::runUntilIdle() {
    std::size_t count = 0;
    while (runOne()) {
        ++count;
    }
    return count;
}

bool ManualExecutor::fireNextTimer(TimePoint limit) {
    Job fire;
    {
        std::lock_guard lock(mutex_);
        if (timers_.empty() || timers_.begin()->first.first > limit) {
            return false;
        }
        auto it = timers_.begin();
        clock_.advanceTo(it->first.first);
        timerDeadlines_.erase(it->first.second);
        fire = std::move(it->second);
        timers_.erase(it);
    }
    fire();
    return true;
}

void ManualExecutor::advanceTo(TimePoint target) {
    runUntilIdle();
    while (fireNextTimer(target)) {
        runUntilIdle();
    }
    clock_.advanceTo(target);
    runUntilIdle();
}

bool ManualExecutor::wait(DispatchGroupState& group, std::optional<TimePoint> deadline) {
    for (;;) {
        if (group.isEmpty()) {
            return true;
        }
        if (runOne()) {
            continue;
        }
        // Nothing is ready: waiting lets virtual time pass up to the next timer.
        const auto next = nextTimerDeadline();
        if (next && (!deadline || *next <= *deadline)) {
            fireNextTimer(*next);
            continue;
        }
        if (deadline) {
            clock_.advanceTo(*deadline);
            return group.isEmpty();
        }
        std::fputs("[Dispatch] deadlock: waiting for work that nothing can run\n", stderr);
        std::abort();
    }
}

void ManualExecutor::shutdown() {
    std::deque<Job> ready;
    std::map<std::pair<TimePoint, TimerId>, Job> timers;
    {
        std::lock_guard lock(mutex_);
        shutDown_ = true;
        ready.swap(ready_);
        timers.swap(timers_);
        timerDeadlines_.clear();
    }
    // Destroyed outside the lock: jobs may own queues whose destruction submits nothing, but
    // captured objects' destructors can call back into the executor.
}

bool ManualExecutor::hasReadyJobs() const {
    std::lock_guard lock(mutex_);
    return !ready_.empty();
}

std::size_t ManualExecutor::pendingTimerCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

std::optional<TimePoint> ManualExecutor::nextTimerDeadline() const {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) {
        return std::nullopt;
    }
    return timers_.begin()->first.first;
}

}  // namespace tovalo
