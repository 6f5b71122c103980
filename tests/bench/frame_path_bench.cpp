// The live frame path: 1920x1080 BGRA frames from a capture stream through the session handler,
// the stream controller and the presenter to the video layer on the main thread, against a bare
// hand-off of the same buffers through one mutex-protected slot to the main thread, in the same
// run. Reports frames per second, overhead per frame and heap allocations per frame.
//
//   build/release/tests/bench/frame_path_bench --benchmark_min_time=0.5
//
// Both paths show only the latest frame: a frame that arrives while the previous one still
// waits for the main thread replaces it. "shown/s" counts frames the layer received.

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/run_loop.h"
#include "capture/capture_service.h"
#include "capture/window_stream_controller.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_workspace.h"

// Counts every heap allocation of the process. GCC takes the replaced operators for a
// mismatch with free(); they are the matching pair here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<std::uint64_t> gAllocations{0};
}

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace tovalo {
namespace {

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;

// One captured picture kept by the test for the whole run, as a capture service's buffer pool
// would keep it.
class StaticFrame final : public VideoFrame {
  public:
    StaticFrame() : pixels_(std::size_t{kWidth} * kHeight * 4, 0x80) {}
    std::uint32_t width() const override { return kWidth; }
    std::uint32_t height() const override { return kHeight; }
    std::size_t bytesPerRow() const override { return std::size_t{kWidth} * 4; }
    const std::uint8_t* data() const override { return pixels_.data(); }
    TimePoint timestamp() const override { return {}; }
    bool isValid() const override { return true; }

  private:
    std::vector<std::uint8_t> pixels_;
};

// A stream whose frames the benchmark pushes: each goes to the output on its queue, exactly as
// a capture service delivers them.
class PushStream final : public SCStream {
  public:
    std::optional<Error> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                         std::shared_ptr<DispatchQueue> queue) override {
        std::lock_guard lock(mutex_);
        output_ = std::move(output);
        queue_ = std::move(queue);
        return std::nullopt;
    }
    std::optional<Error> removeStreamOutput(const std::shared_ptr<SCStreamOutput>&) override {
        std::lock_guard lock(mutex_);
        output_.reset();
        return std::nullopt;
    }
    void startCapture(CaptureCompletion completion) override { completion(std::nullopt); }
    void stopCapture(CaptureCompletion completion) override { completion(std::nullopt); }
    void updateConfiguration(const SCStreamConfiguration&, CaptureCompletion completion) override {
        completion(std::nullopt);
    }

    void push(const VideoFrameRef& frame) {
        std::shared_ptr<SCStreamOutput> output;
        std::shared_ptr<DispatchQueue> queue;
        {
            std::lock_guard lock(mutex_);
            output = output_;
            queue = queue_;
        }
        if (output) {
            queue->async([this, output, frame] { output->didOutputFrame(*this, frame); });
        }
    }
    // Returns once every frame pushed so far has left the output's queue.
    void drain() {
        std::shared_ptr<DispatchQueue> queue;
        {
            std::lock_guard lock(mutex_);
            queue = queue_;
        }
        if (queue) {
            queue->sync([] {});
        }
    }

  private:
    std::mutex mutex_;
    std::shared_ptr<SCStreamOutput> output_;
    std::shared_ptr<DispatchQueue> queue_;
};

class PushCaptureService final : public CaptureService {
  public:
    void getShareableContent(bool, bool,
                             std::function<void(ShareableContentResult)> done) override {
        done(SCShareableContent{});
    }
    std::shared_ptr<SCStream> makeStream(const SCContentFilter&, const SCStreamConfiguration&,
                                         std::weak_ptr<SCStreamDelegate>) override {
        return stream;
    }
    bool preflightScreenCaptureAccess() override { return true; }
    bool requestScreenCaptureAccess() override { return true; }

    std::shared_ptr<PushStream> stream = std::make_shared<PushStream>();
};

class CountingLayer final : public VideoLayer {
  public:
    void enqueue(const VideoFrameRef&) override { shown.fetch_add(1, std::memory_order_relaxed); }
    void flushAndRemoveImage() override {}
    std::atomic<std::uint64_t> shown{0};
};

class CountingLayerFactory final : public VideoLayerFactory {
  public:
    std::shared_ptr<VideoLayer> makeVideoLayer() override { return layer; }
    std::shared_ptr<CountingLayer> layer = std::make_shared<CountingLayer>();
};

class NoPinnedWindows final : public PinnedWindowDirectory {
  public:
    bool isPinned(WindowID) const override { return false; }
    void storeCachedSnapshot(WindowID, WindowSnapshotDetails) override {}
};

// The main thread runs the benchmark loop and drains the run loop; the pushes come from a
// producer thread standing in for the capture service's thread.
void BM_FramePathThroughController(benchmark::State& state) {
    ScopedDebugLogSink quiet{[](const DebugLogLine&) {}};
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    auto desktop = sim::SimDesktop::make(runtime);
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    auto reporter = std::make_shared<ErrorReporter>(client, hooks, "");
    auto service = std::make_shared<PushCaptureService>();
    auto layers = std::make_shared<CountingLayerFactory>();
    auto directory = std::make_shared<NoPinnedWindows>();
    auto controller = WindowStreamController::create({
        .runtime = runtime,
        .captureService = service,
        .errorReporter = reporter,
        .diagnostics = {},
        .registry = std::make_shared<WindowStreamRegistry>(*runtime),
        .contextProvider = nullptr,
        .workspace = desktop->workspace(),
        .pinnedWindows = directory,
        .videoLayerFactory = layers,
    });
    const SCWindow window{7, Rect{0, 0, 960, 540}, "Bench", std::nullopt, true};
    controller->startCapture(window, SCDisplay{1, Rect{0, 0, 1920, 1080}, 1920, 1080}, 960, 540,
                             2.0);
    loop->runUntil([&] { return controller->isCapturing().get(); });

    const VideoFrameRef frame = std::make_shared<StaticFrame>();
    auto& shown = layers->layer->shown;
    const std::int64_t batch = state.range(0);
    std::uint64_t pushed = 0;
    std::uint64_t allocations = 0;
    const std::uint64_t shownBefore = shown.load();
    for (auto _ : state) {
        const std::uint64_t allocBefore = gAllocations.load();
        std::atomic<bool> producerDone{false};
        std::thread producer([&] {
            for (std::int64_t i = 0; i < batch; ++i) {
                service->stream->push(frame);
            }
            service->stream->drain();
            producerDone = true;
            runtime->mainQueue()->async([] {});
        });
        // The main thread shows frames while they come.
        loop->runUntil([&] { return producerDone.load(); });
        producer.join();
        service->stream->drain();
        loop->runPending();
        allocations += gAllocations.load() - allocBefore;
        pushed += static_cast<std::uint64_t>(batch);
    }
    // Let the last deliveries land before counting.
    for (int i = 0; i < 3; ++i) {
        runtime->mainQueue()->async([] {});
        loop->runPending();
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(pushed), benchmark::Counter::kIsRate);
    state.counters["shown/s"] = benchmark::Counter(static_cast<double>(shown.load() - shownBefore),
                                                   benchmark::Counter::kIsRate);
    state.counters["us/frame"] = benchmark::Counter(
        static_cast<double>(pushed), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/frame"] =
        static_cast<double>(allocations) / static_cast<double>(std::max<std::uint64_t>(pushed, 1));
    controller->stopCapture();
    loop->runPending();
}

// The baseline: the same buffer handed to the main thread through one mutex-protected slot
// that keeps the latest frame.
void BM_BareMutexSlotHandOff(benchmark::State& state) {
    const VideoFrameRef frame = std::make_shared<StaticFrame>();
    std::mutex mutex;
    std::condition_variable wake;
    VideoFrameRef slot;
    bool done = false;
    std::uint64_t shown = 0;
    const std::int64_t batch = state.range(0);
    std::uint64_t pushed = 0;
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        const std::uint64_t allocBefore = gAllocations.load();
        done = false;
        std::thread producer([&] {
            for (std::int64_t i = 0; i < batch; ++i) {
                {
                    std::lock_guard lock(mutex);
                    slot = frame;
                }
                wake.notify_one();
            }
            {
                std::lock_guard lock(mutex);
                done = true;
            }
            wake.notify_one();
        });
        for (;;) {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return slot != nullptr || done; });
            if (slot) {
                VideoFrameRef taken = std::move(slot);
                slot.reset();
                lock.unlock();
                benchmark::DoNotOptimize(taken->data());
                ++shown;
                continue;
            }
            if (done) {
                break;
            }
        }
        producer.join();
        allocations += gAllocations.load() - allocBefore;
        pushed += static_cast<std::uint64_t>(batch);
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(pushed), benchmark::Counter::kIsRate);
    state.counters["shown/s"] =
        benchmark::Counter(static_cast<double>(shown), benchmark::Counter::kIsRate);
    state.counters["us/frame"] = benchmark::Counter(
        static_cast<double>(pushed), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/frame"] =
        static_cast<double>(allocations) / static_cast<double>(std::max<std::uint64_t>(pushed, 1));
}

// The dispatch hop alone: the same frames carried onto a serial queue one task each, as a
// capture service hands them to its output, with nothing behind it. Tells how much of the
// path's cost is the hop every stream delivery makes.
void BM_DispatchHopOnly(benchmark::State& state) {
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    auto queue = runtime->makeSerialQueue("bench.sample");
    const VideoFrameRef frame = std::make_shared<StaticFrame>();
    std::atomic<std::uint64_t> seen{0};
    const std::int64_t batch = state.range(0);
    std::uint64_t pushed = 0;
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        const std::uint64_t allocBefore = gAllocations.load();
        for (std::int64_t i = 0; i < batch; ++i) {
            queue->async([&seen, frame, queue] {
                benchmark::DoNotOptimize(frame->data());
                seen.fetch_add(1, std::memory_order_relaxed);
            });
        }
        queue->sync([] {});
        allocations += gAllocations.load() - allocBefore;
        pushed += static_cast<std::uint64_t>(batch);
    }
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(pushed), benchmark::Counter::kIsRate);
    state.counters["us/frame"] = benchmark::Counter(
        static_cast<double>(pushed), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["allocs/frame"] =
        static_cast<double>(allocations) / static_cast<double>(std::max<std::uint64_t>(pushed, 1));
}

BENCHMARK(BM_FramePathThroughController)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareMutexSlotHandOff)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DispatchHopOnly)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tovalo
