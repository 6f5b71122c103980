#pragma once

// A labelled queue of work. Serial queues run one task at a time in submission order;
// concurrent queues run plain tasks side by side and barrier tasks alone (everything submitted
// before a barrier finishes first, nothing submitted after starts until it is done). The main
// queue is the serial queue of the UI thread. Queues are made by a DispatchRuntime and keep its
// engine alive; work already queued keeps its queue alive.

#include <deque>
#include <vector>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "base/cancellation.h"
#include "base/executor.h"

namespace tovalo {

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
  public:
    enum class Kind { serial, concurrent, main };
    using Task = std::function<void()>;

    DispatchQueue(std::string label, Kind kind, std::shared_ptr<Executor> executor);
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const std::string& label() const { return label_; }
    Kind kind() const { return kind_; }

    void async(Task task);
    // On a serial queue a barrier is an ordinary task.
    void asyncBarrier(Task task);

    // Runs `fn` on the queue and waits for it, returning its result. When the caller already
    // runs on this queue (or on the main thread, for the main queue) `fn` runs inline, because
    // waiting would deadlock.
    template <typename F>
    auto sync(F&& fn) -> std::invoke_result_t<F> {
        return syncWith(false, std::forward<F>(fn));
    }
    template <typename F>
    auto syncBarrier(F&& fn) -> std::invoke_result_t<F> {
        return syncWith(true, std::forward<F>(fn));
    }

    // Runs `task` after `delay` on this queue unless the returned handle is cancelled first.
    TaskHandle asyncAfter(Duration delay, Task task);
    // Runs `task` on this queue unless cancelled before it starts; the task receives the token
    // so a long job can stop early.
    TaskHandle asyncCancellable(std::function<void(const CancellationToken&)> task);

    // The queue-specific marker: true while the calling thread runs a task of this queue.
    bool isCurrent() const;
    // The queue whose task the calling thread is running, if any.
    static const DispatchQueue* current();

    Executor& executor() const { return *executor_; }
    const std::shared_ptr<Executor>& sharedExecutor() const { return executor_; }

  private:
    struct Pending {
        Task task;
        bool isBarrier;
    };

    template <typename F>
    auto syncWith(bool barrier, F&& fn) -> std::invoke_result_t<F> {
        using Result = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<Result>) {
            syncTask(barrier, Task(std::forward<F>(fn)));
        } else {
            std::optional<Result> result;
            syncTask(barrier, [&result, &fn] { result.emplace(fn()); });
            return std::move(*result);
        }
    }

    void syncTask(bool barrier, Task task);
    void enqueue(Task task, bool isBarrier);
    // Starts whatever may start now; returns the jobs to submit once the lock is released.
    void pumpLocked(std::vector<Job>& toSubmit);
    void drainSerial();
    void runConcurrent(Task task, bool isBarrier);
    void runTask(const Task& task);
    ExecutionTarget target() const;

    const std::string label_;
    const Kind kind_;
    const std::shared_ptr<Executor> executor_;

    std::mutex mutex_;
    std::deque<Pending> pending_;
    // Serial queues: the tasks the one running drain works through; only that drain touches it.
    std::deque<Pending> drainBatch_;
    int running_ = 0;
    bool barrierRunning_ = false;
};

}  // namespace tovalo
