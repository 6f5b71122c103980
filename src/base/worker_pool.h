#pragma once

// Threads for queue work. About one worker per core runs jobs; a worker that blocks in a
// dispatch wait (a `sync`, a group wait) stops counting, so another starts in its place and
// nested waits cannot starve the pool. Idle workers beyond the minimum leave after a while.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tovalo {

class WorkerPool {
  public:
    explicit WorkerPool(std::size_t maxActive = defaultWidth(), std::size_t maxThreads = 512);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(std::function<void()> job);
    // Finishes the jobs already submitted, then waits for every worker to leave.
    void shutdown();

    // Brackets a blocking wait on the calling thread; does nothing on threads of other pools.
    void beginBlocking();
    void endBlocking();

    std::size_t threadCount() const;
    static std::size_t defaultWidth();

  private:
    void workerLoop();
    // Starts a worker when work waits and fewer than maxActive workers can take it.
    void growLocked();

    const std::size_t maxActive_;
    const std::size_t maxThreads_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable allExited_;
    std::deque<std::function<void()>> jobs_;
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;
    std::size_t blocked_ = 0;
    bool stopping_ = false;
};

}  // namespace tovalo
