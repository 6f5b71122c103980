#include "base/worker_pool.h"

#include <algorithm>
#include <chrono>

namespace tovalo {

namespace {
// How long a surplus worker stays idle before leaving. Only real threads wait here; nothing
// observable depends on it.
constexpr auto kIdleTimeout = std::chrono::seconds(10);

thread_local const WorkerPool* tCurrentPool = nullptr;
}  // namespace

std::size_t WorkerPool::defaultWidth() {
    return std::max<std::size_t>(2, std::thread::hardware_concurrency());
}

WorkerPool::WorkerPool(std::size_t maxActive, std::size_t maxThreads)
    : maxActive_(std::max<std::size_t>(1, maxActive)), maxThreads_(maxThreads) {}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::growLocked() {
    if (jobs_.empty()) {
        return;
    }
    if (idle_ > 0) {
        wake_.notify_one();
        return;
    }
    const std::size_t active = threads_ - idle_ - blocked_;
    if (active < maxActive_ && threads_ < maxThreads_) {
        ++threads_;
        // Workers are detached: each counts itself out when it leaves, and shutdown waits for
        // the count to reach zero.
        std::thread(&WorkerPool::workerLoop, this).detach();
    }
}

void WorkerPool::submit(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    if (stopping_) {
        return;
    }
    jobs_.push_back(std::move(job));
    growLocked();
}

void WorkerPool::beginBlocking() {
    if (tCurrentPool != this) {
        return;
    }
    std::lock_guard lock(mutex_);
    ++blocked_;
    growLocked();
}

void WorkerPool::endBlocking() {
    if (tCurrentPool != this) {
        return;
    }
    std::lock_guard lock(mutex_);
    --blocked_;
}

void WorkerPool::workerLoop() {
    tCurrentPool = this;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (jobs_.empty()) {
            if (stopping_) {
                break;
            }
            ++idle_;
            const bool woke =
                wake_.wait_for(lock, kIdleTimeout, [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (!woke && threads_ > maxActive_) {
                break;
            }
            continue;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        // More work waiting than this worker: let another start on it.
        growLocked();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    --threads_;
    tCurrentPool = nullptr;
    if (threads_ == 0) {
        allExited_.notify_all();
    }
}

void WorkerPool::shutdown() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
    allExited_.wait(lock, [this] { return threads_ == 0; });
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

}  // namespace tovalo
