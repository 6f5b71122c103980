// Stream controllers on real threads: frames arrive on the sample queues at a high rate while
// the main thread starts, stops and replaces controllers, and other threads read the registry.
// The layer must only ever be touched on the main thread, every session must announce its first
// frame at most once, and after the last stop nothing may be left capturing. Runs under
// ThreadSanitizer too. Nothing sleeps: waits are for work to be done, bounded by spin counts.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/in_memory_preferences_store.h"
#include "base/run_loop.h"
#include "capture/window_server_info.h"
#include "capture/window_stream_controller.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_video_layer.h"
#include "platform/sim/sim_window_server.h"
#include "platform/sim/sim_workspace.h"

namespace tovalo {
namespace {

class NoPinnedWindows final : public PinnedWindowDirectory {
  public:
    bool isPinned(WindowID) const override { return false; }
    void storeCachedSnapshot(WindowID, WindowSnapshotDetails) override { ++stored; }
    int stored = 0;  // main thread
};

TEST(WindowStreamControllerConcurrencyTest, ControllersComeAndGoWhileFramesFlow) {
    ScopedDebugLogSink quietLog{[](const DebugLogLine&) {}};
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    auto desktop = sim::SimDesktop::make(runtime);
    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    const Rect frame{0, 0, 320, 200};
    const WindowID windowID = desktop->openWindow(editor, "Notes", frame);
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    auto reporter = std::make_shared<ErrorReporter>(client, hooks, "");
    auto info = WindowServerInfo::create(desktop->windowServer(), runtime);
    auto preferences = std::make_shared<InMemoryPreferencesStore>(desktop->defaultCenter().get());
    auto provider = WindowCaptureContextProvider::create(
        {runtime, desktop->sharedCaptureService(),
         [info](WindowID id) { return info->windowInfo(id); }, desktop->workspace(),
         desktop->bundleInfo(), preferences, desktop->defaultCenter(), reporter});
    auto registry = std::make_shared<WindowStreamRegistry>(*runtime);
    auto directory = std::make_shared<NoPinnedWindows>();
    auto layers = std::make_shared<sim::SimVideoLayerFactory>(runtime);
    auto makeController = [&] {
        return WindowStreamController::create({runtime,
                                               desktop->sharedCaptureService(),
                                               reporter,
                                               {},
                                               registry,
                                               provider,
                                               desktop->workspace(),
                                               directory,
                                               layers});
    };
    const SCWindow window{
        windowID, frame, "Notes",
        SCRunningApplication{"org.example.Editor", "Editor", editor->processIdentifier()}, true};
    const SCDisplay display{1, Rect{0, 0, 1440, 900}, 1440, 900};

    auto& service = desktop->captureService();
    service.setFrameRate(500);
    std::atomic<bool> stop{false};
    std::thread pump([&] {
        while (!stop.load()) {
            service.deliverFrame(windowID);
            std::this_thread::yield();
        }
    });
    std::thread reader([&] {
        while (!stop.load()) {
            if (auto owner = registry->registeredController(windowID)) {
                (void)registry->isRegisteredOwner(windowID, owner.get());
            }
            std::this_thread::yield();
        }
    });

    std::vector<std::shared_ptr<WindowStreamController>> controllers;
    int firstFrames = 0;
    for (int round = 0; round < 30; ++round) {
        auto controller = makeController();
        controller->setOnFirstFrame([&firstFrames] { ++firstFrames; });
        controller->startCapture(window, display, 320, 200, 1.0);
        controllers.push_back(controller);
        // Some rounds replace the running controller (a stale session), some stop it first,
        // some drop it while capturing.
        const auto before = layers->made().back()->enqueuedCount();
        for (int spin = 0; spin < 20000 && layers->made().back()->enqueuedCount() == before;
             ++spin) {
            loop->runPending();
            std::this_thread::yield();
        }
        if (round % 3 == 0) {
            controller->stopCapture();
        } else if (round % 3 == 1) {
            controllers.pop_back();
        }
    }
    for (auto& controller : controllers) {
        controller->stopCapture();
    }
    controllers.clear();
    stop = true;
    pump.join();
    reader.join();
    service.setFrameRate(0);
    for (int spin = 0; spin < 20000 && service.activeStreamCount(windowID) != 0; ++spin) {
        loop->runPending();
        std::this_thread::yield();
    }
    loop->runPending();

    EXPECT_EQ(service.activeStreamCount(windowID), 0);
    for (const auto& layer : layers->made()) {
        EXPECT_EQ(layer->callsOffMainThread(), 0);
    }
    EXPECT_GT(firstFrames, 0);
    EXPECT_LE(firstFrames, 30);
    EXPECT_EQ(directory->stored, firstFrames);
    EXPECT_EQ(registry->registeredController(windowID), nullptr);
}

}  // namespace
}  // namespace tovalo
