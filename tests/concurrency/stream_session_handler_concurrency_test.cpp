// One capture session on real threads: several threads keep asking it to start and stop while
// the simulated service keeps producing frames. Afterwards one last stop must leave no capture
// running and no frame may reach the owner once it has heard of that stop. Runs under
// ThreadSanitizer too. Nothing sleeps: the main thread flushes the queues involved.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/run_loop.h"
#include "capture/stream_session_handler.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"

namespace tovalo {
namespace {

constexpr int kRequesterThreads = 4;
constexpr int kRoundsPerThread = 40;
constexpr int kMaxSpins = 20000;

TEST(StreamSessionHandlerConcurrencyTest, StartsAndStopsRaceWhileFramesFlow) {
    ScopedDebugLogSink quietLog{[](const DebugLogLine&) {}};
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    auto desktop = sim::SimDesktop::make(runtime);
    const Rect frame{0, 0, 400, 300};
    const WindowID windowID =
        desktop->openWindow(desktop->launchApp("org.example.Editor", "Editor"), "Notes", frame);
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    auto reporter = std::make_shared<ErrorReporter>(client, hooks, "");
    reporter->start();

    auto handler = StreamSessionHandler::create(
        SCWindow{windowID, frame, "Notes", SCRunningApplication{"org.example.Editor", "Editor", 0},
                 true},
        {runtime, desktop->sharedCaptureService(), reporter, {}});

    // Main thread only.
    std::vector<std::pair<bool, bool>> statuses;
    handler->setOnStatusChange([&statuses](bool isCapturing, bool hasError) {
        statuses.emplace_back(isCapturing, hasError);
    });
    std::atomic<bool> stoppedForGood{false};
    std::atomic<int> frames{0};
    std::atomic<int> framesAfterStop{0};
    handler->setOnFrameReceived([&](const VideoFrameRef&) {
        ++frames;
        if (stoppedForGood.load()) {
            ++framesAfterStop;
        }
    });

    auto& service = desktop->captureService();
    service.setFrameRate(240);
    std::atomic<bool> stopPump{false};
    std::thread pump([&] {
        while (!stopPump.load()) {
            service.deliverFrame(windowID);
            std::this_thread::yield();
        }
    });

    std::atomic<int> requestersDone{0};
    std::vector<std::thread> requesters;
    for (int t = 0; t < kRequesterThreads; ++t) {
        requesters.emplace_back([&, t] {
            for (int i = 0; i < kRoundsPerThread; ++i) {
                handler->startCapture(400 + i % 7, 300, 2.0);
                // Lets frames flow for a moment (bounded, so a session that never delivers
                // cannot hang the test).
                const int seen = frames.load();
                for (int spin = 0; spin < kMaxSpins && frames.load() == seen; ++spin) {
                    std::this_thread::yield();
                }
                if ((i + t) % 2 == 0) {
                    handler->stopCapture();
                }
            }
            ++requestersDone;
            // Wakes the main thread to look at the count.
            runtime->mainQueue()->async([] {});
        });
    }
    // Status callbacks keep arriving on the main thread while the requests race.
    loop->runUntil([&] { return requestersDone.load() == kRequesterThreads; });
    for (auto& requester : requesters) {
        requester.join();
    }
    handler->stopCapture();

    // Settled once a full pass over every queue involved changes nothing any more.
    auto flush = [&, control = handler->controlQueue(), sample = handler->sampleQueue()] {
        service.queue()->sync([] {});
        control->sync([] {});
        sample->sync([] {});
        control->sync([] {});
        loop->runPending();
    };
    auto stopped = [&] {
        return service.activeStreamCount(windowID) == 0 && !statuses.empty() &&
               statuses.back() == std::make_pair(false, false);
    };
    for (;;) {
        loop->runUntil(stopped);
        const std::size_t seen = statuses.size();
        flush();
        flush();
        if (stopped() && statuses.size() == seen) {
            break;
        }
    }
    stoppedForGood = true;

    // Frames asked for now must not reach the owner.
    for (int i = 0; i < 3; ++i) {
        service.deliverFrame(windowID);
    }
    flush();
    stopPump = true;
    pump.join();
    flush();

    EXPECT_EQ(framesAfterStop.load(), 0);
    EXPECT_EQ(service.activeStreamCount(windowID), 0);
    EXPECT_EQ(service.runningStreamCount(windowID), 0);
    EXPECT_EQ(statuses.back(), std::make_pair(false, false));
    handler.reset();
    service.setFrameRate(0);
    flush();
}

}  // namespace
}  // namespace tovalo
