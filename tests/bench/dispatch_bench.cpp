// Queue hop latency and throughput of the threaded dispatch engine, against a plain
// mutex + condition-variable hand-off to one worker thread measured in the same run.
//
//   build/release/tests/bench/dispatch_bench --benchmark_min_time=0.5

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/dispatch_group.h"
#include "base/dispatch_runtime.h"
#include "base/run_loop.h"

namespace tovalo {
namespace {

std::shared_ptr<DispatchRuntime> makeRuntime() {
    return DispatchRuntime::makeThreaded(std::make_shared<RunLoop>());
}

// The baseline: one worker thread fed through a mutex-protected deque.
class HandOffWorker {
  public:
    HandOffWorker() : thread_([this] { loop(); }) {}
    ~HandOffWorker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }

  private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stop_ = false;
    std::thread thread_;
};

// Round trip: post one job and wait for it, so the queue is idle at every hop (latency).
void BM_SerialQueueHopLatency(benchmark::State& state) {
    auto runtime = makeRuntime();
    auto queue = runtime->makeSerialQueue("bench.serial");
    for (auto _ : state) {
        queue->sync([] {});
    }
}
BENCHMARK(BM_SerialQueueHopLatency)->UseRealTime();

void BM_MutexHandOffHopLatency(benchmark::State& state) {
    HandOffWorker worker;
    for (auto _ : state) {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        worker.post([&] {
            std::lock_guard lock(m);
            done = true;
            cv.notify_one();
        });
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    }
}
BENCHMARK(BM_MutexHandOffHopLatency)->UseRealTime();

constexpr int kBatch = 10000;

// Throughput: a burst of async jobs, then one wait for all of them.
void BM_SerialQueueAsyncThroughput(benchmark::State& state) {
    auto runtime = makeRuntime();
    auto queue = runtime->makeSerialQueue("bench.serial");
    std::atomic<long> counter{0};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            queue->async([&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
        }
        queue->sync([] {});
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_SerialQueueAsyncThroughput)->UseRealTime();

void BM_ConcurrentQueueBarrierThroughput(benchmark::State& state) {
    auto runtime = makeRuntime();
    auto queue = runtime->makeConcurrentQueue("bench.concurrent");
    long value = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            queue->asyncBarrier([&value] { ++value; });
        }
        queue->syncBarrier([] {});
    }
    benchmark::DoNotOptimize(value);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ConcurrentQueueBarrierThroughput)->UseRealTime();

void BM_ConcurrentQueueReadThroughput(benchmark::State& state) {
    auto runtime = makeRuntime();
    auto queue = runtime->makeConcurrentQueue("bench.concurrent");
    std::atomic<long> counter{0};
    for (auto _ : state) {
        DispatchGroup group(runtime->sharedExecutor());
        for (int i = 0; i < kBatch; ++i) {
            group.async(queue, [&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
        }
        group.wait();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ConcurrentQueueReadThroughput)->UseRealTime();

void BM_MutexHandOffThroughput(benchmark::State& state) {
    HandOffWorker worker;
    std::atomic<long> counter{0};
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            worker.post([&counter] { counter.fetch_add(1, std::memory_order_relaxed); });
        }
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        worker.post([&] {
            std::lock_guard lock(m);
            done = true;
            cv.notify_one();
        });
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MutexHandOffThroughput)->UseRealTime();

}  // namespace
}  // namespace tovalo
