#include "base/worker_pool.h"

#include <chrono>

namespace tovalo {

namespace {
// How long a surplus worker stays idle before leaving. Only real threads wait here; nothing
// observable depends on it.
constexpr auto kIdleTimeout = std::chrono::seconds(10);
}  // namespace

WorkerPool::WorkerPool(std::size_t keepAlive, std::size_t maxThreads)
    : keepAlive_(keepAlive), maxThreads_(maxThreads) {}

WorkerPool::~WorkerPool() { shutdown(); }

void WorkerPool::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        jobs_.push_back(std::move(job));
        if (idle_ >= jobs_.size() || threads_ >= maxThreads_) {
            wake_.notify_one();
            return;
        }
        ++threads_;
        // Workers are detached: each one counts itself out when it leaves, and shutdown waits for
        // the count to reach zero.
        std::thread(&WorkerPool::workerLoop, this).detach();
    }
}

void WorkerPool::workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (jobs_.empty()) {
            if (stopping_) {
                break;
            }
            ++idle_;
            const bool woke = wake_.wait_for(lock, kIdleTimeout,
                                             [this] { return stopping_ || !jobs_.empty(); });
            --idle_;
            if (!woke && threads_ > keepAlive_) {
                break;
            }
            continue;
        }
        auto job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
    --threads_;
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
