#include "base/dispatch_queue.h"

#include <vector>

#include "base/dispatch_group_state.h"

namespace tovalo {

namespace {

// Queues whose tasks the current thread is running, innermost last. More than one entry only
// when a task waits in `sync` and the manual executor runs other work on the same thread.
thread_local std::vector<const DispatchQueue*> tCurrentQueues;

class CurrentQueueScope {
  public:
    explicit CurrentQueueScope(const DispatchQueue* queue) { tCurrentQueues.push_back(queue); }
    ~CurrentQueueScope() { tCurrentQueues.pop_back(); }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;
};

}  // namespace

DispatchQueue::DispatchQueue(std::string label, Kind kind, std::shared_ptr<Executor> executor)
    : label_(std::move(label)), kind_(kind), executor_(std::move(executor)) {}

const DispatchQueue* DispatchQueue::current() {
    return tCurrentQueues.empty() ? nullptr : tCurrentQueues.back();
}

bool DispatchQueue::isCurrent() const {
    return current() == this;
}

ExecutionTarget DispatchQueue::target() const {
    return kind_ == Kind::main ? ExecutionTarget::mainThread : ExecutionTarget::pool;
}

void DispatchQueue::async(Task task) {
    enqueue(std::move(task), false);
}

void DispatchQueue::asyncBarrier(Task task) {
    enqueue(std::move(task), true);
}

void DispatchQueue::enqueue(Task task, bool isBarrier) {
    std::vector<Job> toSubmit;  // empty vectors do not allocate; this runs per task
    {
        std::lock_guard lock(mutex_);
        pending_.push_back({std::move(task), isBarrier});
        pumpLocked(toSubmit);
    }
    for (auto& job : toSubmit) {
        executor_->submit(target(), std::move(job));
    }
}

void DispatchQueue::pumpLocked(std::vector<Job>& toSubmit) {
    auto self = shared_from_this();
    if (kind_ != Kind::concurrent) {
        if (running_ == 0 && !pending_.empty()) {
            running_ = 1;
            toSubmit.push_back([self] { self->drainSerial(); });
        }
        return;
    }
    while (!pending_.empty() && !barrierRunning_) {
        if (pending_.front().isBarrier) {
            if (running_ > 0) {
                return;
            }
            barrierRunning_ = true;
        }
        Pending next = std::move(pending_.front());
        pending_.pop_front();
        ++running_;
        toSubmit.push_back([self, task = std::move(next.task), barrier = next.isBarrier] {
            self->runConcurrent(task, barrier);
        });
    }
}

void DispatchQueue::runTask(const Task& task) {
    CurrentQueueScope scope(this);
    task();
}

void DispatchQueue::drainSerial() {
    // Takes everything queued so far in one lock, runs it, then hands the thread back: other
    // queues get a turn between batches, and the queue stays claimed (running_ == 1) throughout.
    // The batch container is kept between drains so that a drain allocates nothing.
    {
        std::lock_guard lock(mutex_);
        drainBatch_.swap(pending_);
    }
    for (auto& pending : drainBatch_) {
        runTask(pending.task);
    }
    drainBatch_.clear();
    std::lock_guard lock(mutex_);
    if (pending_.empty()) {
        running_ = 0;
        return;
    }
    auto self = shared_from_this();
    executor_->submit(target(), [self] { self->drainSerial(); });
}

void DispatchQueue::runConcurrent(Task task, bool isBarrier) {
    runTask(task);
    std::vector<Job> toSubmit;  // empty vectors do not allocate; this runs per task
    {
        std::lock_guard lock(mutex_);
        --running_;
        if (isBarrier) {
            barrierRunning_ = false;
        }
        pumpLocked(toSubmit);
    }
    for (auto& job : toSubmit) {
        executor_->submit(target(), std::move(job));
    }
}

void DispatchQueue::syncTask(bool barrier, Task task) {
    const bool inline_ = isCurrent() || (kind_ == Kind::main && executor_->isMainThread());
    if (inline_) {
        runTask(task);
        return;
    }
    DispatchGroupState done;
    done.count = 1;
    enqueue(
        [&done, &task] {
            task();
            std::lock_guard lock(done.mutex);
            done.count = 0;
            done.condition.notify_all();
        },
        barrier);
    executor_->wait(done, std::nullopt);
}

TaskHandle DispatchQueue::asyncAfter(Duration delay, Task task) {
    CancellationToken token;
    TaskHandle handle(token);
    auto self = shared_from_this();
    const auto deadline = executor_->clock().now() + delay;
    executor_->scheduleAt(deadline, Duration::zero(), [self, token, task = std::move(task)] {
        if (token.isCancelled()) {
            return;
        }
        self->async([token, task] {
            if (!token.isCancelled()) {
                task();
            }
        });
    });
    return handle;
}

TaskHandle DispatchQueue::asyncCancellable(std::function<void(const CancellationToken&)> task) {
    CancellationToken token;
    TaskHandle handle(token);
    async([token, task = std::move(task)] {
        if (!token.isCancelled()) {
            task(token);
        }
    });
    return handle;
}

}  // namespace tovalo
