#pragma once

// Threads for queue work. A job never waits for a free thread: when every worker is busy (for
// example blocked in `sync` on another queue) a new one starts, so nested waits cannot starve the
// pool. Idle workers beyond the minimum leave after a while.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>


namespace tovalo {

class WorkerPool {
public:
    explicit WorkerPool(std::size_t keepAlive = 2, std::size_t maxThreads = 256);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);
    // Finishes the jobs already submitted, then joins every worker.
    void shutdown();

    std::size_t threadCount() const;

private:
    void workerLoop();

    const std::size_t keepAlive_;
    const std::size_t maxThreads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable allExited_;
    std::deque<std::function<void()>> jobs_;
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;
    bool stopping_ = false;
};

}  // namespace tovalo
