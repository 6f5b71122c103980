#include "capture/window_stream_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "capture/window_server_info.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_video_frame.h"
#include "platform/sim/sim_video_layer.h"
#include "platform/sim/sim_window_server.h"
#include "platform/sim/sim_workspace.h"

namespace tovalo {
namespace {

using namespace std::chrono_literals;

// The pinned windows as a controller sees them: which have an overlay, and the pictures kept.
class FakePinnedWindows final : public PinnedWindowDirectory {
  public:
    bool isPinned(WindowID windowID) const override { return pinned.count(windowID) > 0; }
    void storeCachedSnapshot(WindowID windowID, WindowSnapshotDetails snapshot) override {
        snapshots.emplace_back(windowID, std::move(snapshot));
    }

    std::set<WindowID> pinned;
    std::vector<std::pair<WindowID, WindowSnapshotDetails>> snapshots;
};

// Passes everything to the simulated service and notes when each stream was asked for, which
// is when a controller (re)started capture.
class StartRecordingCaptureService final : public CaptureService {
  public:
    StartRecordingCaptureService(std::shared_ptr<CaptureService> inner, const Clock& clock)
        : inner_(std::move(inner)), clock_(clock) {}

    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(ShareableContentResult)> completion) override {
        inner_->getShareableContent(excludingDesktopWindows, onScreenWindowsOnly,
                                    std::move(completion));
    }
    std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                         const SCStreamConfiguration& configuration,
                                         std::weak_ptr<SCStreamDelegate> delegate) override {
        std::lock_guard lock(mutex_);
        starts_.push_back(clock_.now());
        return inner_->makeStream(filter, configuration, std::move(delegate));
    }
    bool preflightScreenCaptureAccess() override { return inner_->preflightScreenCaptureAccess(); }
    bool requestScreenCaptureAccess() override { return inner_->requestScreenCaptureAccess(); }

    std::vector<TimePoint> starts() const {
        std::lock_guard lock(mutex_);
        return starts_;
    }

  private:
    std::shared_ptr<CaptureService> inner_;
    const Clock& clock_;
    mutable std::mutex mutex_;
    std::vector<TimePoint> starts_;
};

class WindowStreamControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reporter->start();
        editor = desktop->launchApp("org.example.Editor", "Editor");
        windowID = desktop->openWindow(editor, "Notes", kFrame);
    }

    // Work a controller queued as it went (its session's stop) holds the runtime; run it, so
    // nothing is left holding the runtime that holds it.
    void TearDown() override { runtime->runUntilIdle(); }

    std::shared_ptr<WindowStreamController> makeController() {
        auto info = windowServerInfo;
        auto controller = WindowStreamController::create({
            .runtime = runtime,
            .captureService = service,
            .errorReporter = reporter,
            .diagnostics = {},
            .registry = registry,
            .contextProvider = provider,
            .workspace = desktop->workspace(),
            .pinnedWindows = pinnedWindows,
            .videoLayerFactory = layers,
        });
        controller->setOnFirstFrame([this] { ++firstFrames; });
        return controller;
    }

    SCWindow window(WindowID id, bool onScreen = true) const {
        return SCWindow{
            id, kFrame, "Notes",
            SCRunningApplication{"org.example.Editor", "Editor", editor->processIdentifier()},
            onScreen};
    }

    void start(WindowStreamController& controller, double width = 800, double height = 600) {
        controller.startCapture(window(windowID), kDisplay, width, height, 2.0);
        runtime->runUntilIdle();
    }

    void refreshContent() {
        provider->refreshContent([](const auto&, bool) {});
        runtime->runUntilIdle();
    }

    sim::SimCaptureService& simService() { return desktop->captureService(); }
    sim::SimVideoLayer& layerOf(std::size_t index) { return *layers->made().at(index); }

    const Rect kFrame{100, 100, 800, 600};
    const SCDisplay kDisplay{1, Rect{0, 0, 1440, 900}, 1440, 900};

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    std::shared_ptr<StartRecordingCaptureService> service =
        std::make_shared<StartRecordingCaptureService>(desktop->sharedCaptureService(),
                                                       runtime->clock());
    std::shared_ptr<WindowServerInfo> windowServerInfo =
        WindowServerInfo::create(desktop->windowServer(), runtime);
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    std::shared_ptr<ErrorReporter> reporter = std::make_shared<ErrorReporter>(
        client, hooks, "https://0123456789abcdef0123456789abcdef@host/42");
    std::shared_ptr<InMemoryPreferencesStore> preferences =
        std::make_shared<InMemoryPreferencesStore>(desktop->defaultCenter().get());
    std::shared_ptr<WindowCaptureContextProvider> provider = WindowCaptureContextProvider::create(
        {runtime, desktop->sharedCaptureService(),
         [info = windowServerInfo](WindowID id) { return info->windowInfo(id); },
         desktop->workspace(), desktop->bundleInfo(), preferences, desktop->defaultCenter(),
         reporter});
    std::shared_ptr<WindowStreamRegistry> registry =
        std::make_shared<WindowStreamRegistry>(*runtime);
    std::shared_ptr<FakePinnedWindows> pinnedWindows = std::make_shared<FakePinnedWindows>();
    std::shared_ptr<sim::SimVideoLayerFactory> layers =
        std::make_shared<sim::SimVideoLayerFactory>(runtime);
    std::shared_ptr<sim::SimRunningApplication> editor;
    WindowID windowID = 0;
    int firstFrames = 0;
};

// ---- Frames, first frame and snapshot ----

TEST_F(WindowStreamControllerTest, FramesReachTheLayerOnTheMainThreadAndTheFirstOneIsKept) {
    auto controller = makeController();
    start(*controller);
    ASSERT_TRUE(controller->isCapturing().get());
    EXPECT_FALSE(controller->hasError().get());

    for (int i = 0; i < 3; ++i) {
        simService().deliverFrame(windowID);
        runtime->advanceBy(100ms);
    }

    auto& layer = layerOf(0);
    ASSERT_NE(layer.shownFrame(), nullptr);
    const auto& shown = dynamic_cast<const sim::SimVideoFrame&>(*layer.shownFrame());
    EXPECT_EQ(shown.sequenceNumber(), 3u);
    EXPECT_EQ(shown.width(), 1600u);
    EXPECT_EQ(layer.callsOffMainThread(), 0);
    EXPECT_EQ(firstFrames, 1);

    ASSERT_EQ(pinnedWindows->snapshots.size(), 1u);
    const auto& [id, snapshot] = pinnedWindows->snapshots.front();
    EXPECT_EQ(id, windowID);
    EXPECT_EQ(snapshot.id, windowID);
    EXPECT_EQ(snapshot.title, "Notes");
    EXPECT_EQ(snapshot.appName, "Editor");
    EXPECT_EQ(snapshot.bundleIdentifier, "org.example.Editor");
    ASSERT_NE(snapshot.image, nullptr);
    // The picture is the first frame itself, shared rather than copied.
    EXPECT_EQ(dynamic_cast<const sim::SimVideoFrame&>(*snapshot.image).sequenceNumber(), 1u);
}

TEST_F(WindowStreamControllerTest, EverySessionAnnouncesItsFirstFrameOnce) {
    auto controller = makeController();
    start(*controller);
    simService().deliverFrame(windowID);
    runtime->advanceBy(100ms);
    controller->stopCapture();
    start(*controller);
    simService().deliverFrame(windowID);
    runtime->advanceBy(100ms);
    simService().deliverFrame(windowID);
    runtime->advanceBy(100ms);

    EXPECT_EQ(firstFrames, 2);
    EXPECT_EQ(pinnedWindows->snapshots.size(), 2u);
}

TEST_F(WindowStreamControllerTest, AWindowWithoutRunningOwnerGetsTheFallbackNames) {
    auto controller = makeController();
    SCWindow orphan = window(windowID);
    orphan.title.reset();
    orphan.owningApplication = SCRunningApplication{"org.example.Gone", "Gone", 9999};
    controller->startCapture(orphan, kDisplay, 800, 600, 1.0);
    runtime->runUntilIdle();
    simService().deliverFrame(windowID);
    runtime->advanceBy(100ms);

    ASSERT_EQ(pinnedWindows->snapshots.size(), 1u);
    const auto& snapshot = pinnedWindows->snapshots.front().second;
    EXPECT_EQ(snapshot.title, "Untitled Window");
    EXPECT_EQ(snapshot.appName, "Unknown App");
    EXPECT_EQ(snapshot.appIcon, nullptr);
    EXPECT_EQ(snapshot.bundleIdentifier, "org.example.Gone");
}

// ---- Start and stop ----

TEST_F(WindowStreamControllerTest, StartingAnActiveControllerDoesNothing) {
    auto controller = makeController();
    start(*controller);
    start(*controller);

    EXPECT_EQ(service->starts().size(), 1u);
    EXPECT_EQ(simService().runningStreamCount(windowID), 1);
}

TEST_F(WindowStreamControllerTest, StopEndsTheStreamAndReleasesTheWindow) {
    auto controller = makeController();
    start(*controller);
    bool completed = false;
    controller->stopCapture([&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_FALSE(controller->isCapturing().get());
    runtime->runUntilIdle();

    EXPECT_EQ(simService().activeStreamCount(windowID), 0);
    EXPECT_EQ(registry->registeredController(windowID), nullptr);
    // A later stop status of the old session does not bring anything back.
    EXPECT_FALSE(controller->isCapturing().get());
}

// ---- One controller per window ----

TEST_F(WindowStreamControllerTest, ASecondControllerReplacesAStaleOneForAnUnpinnedWindow) {
    auto stale = makeController();
    start(*stale);
    auto fresh = makeController();
    start(*fresh);

    EXPECT_FALSE(stale->isCapturing().get());
    EXPECT_FALSE(stale->isActive());
    EXPECT_TRUE(fresh->isCapturing().get());
    EXPECT_FALSE(fresh->hasError().get());
    EXPECT_EQ(registry->registeredController(windowID), fresh);
    EXPECT_EQ(simService().runningStreamCount(windowID), 1);
}

TEST_F(WindowStreamControllerTest, ASecondControllerForAPinnedWindowEndsInError) {
    pinnedWindows->pinned.insert(windowID);
    auto owner = makeController();
    start(*owner);
    auto second = makeController();
    start(*second);

    EXPECT_TRUE(second->hasError().get());
    EXPECT_FALSE(second->isActive());
    EXPECT_TRUE(owner->isCapturing().get());
    EXPECT_EQ(registry->registeredController(windowID), owner);
    EXPECT_EQ(simService().runningStreamCount(windowID), 1);
}

TEST_F(WindowStreamControllerTest, ADestroyedControllerFreesItsWindow) {
    auto first = makeController();
    start(*first);
    first.reset();
    runtime->runUntilIdle();
    EXPECT_EQ(simService().activeStreamCount(windowID), 0);

    pinnedWindows->pinned.insert(windowID);
    auto second = makeController();
    start(*second);
    EXPECT_TRUE(second->isCapturing().get());
    EXPECT_FALSE(second->hasError().get());
}

TEST_F(WindowStreamControllerTest, StartingAnotherWindowReleasesThePreviousOne) {
    const WindowID other = desktop->openWindow(editor, "Other", Rect{50, 50, 400, 300});
    auto controller = makeController();
    start(*controller);
    controller->stopCapture();
    controller->startCapture(window(other), kDisplay, 400, 300, 1.0);
    runtime->runUntilIdle();

    EXPECT_EQ(registry->registeredController(windowID), nullptr);
    EXPECT_EQ(registry->registeredController(other), controller);
}

// ---- Restarts ----

Error streamFailure() {
    return Error{kSCStreamErrorDomain, -3815, "stream failed"};
}

TEST_F(WindowStreamControllerTest, FailuresRestartWithDoublingDelaysUpToFiveSeconds) {
    auto controller = makeController();
    start(*controller);
    // Every restart fails to start until the eighth.
    const std::vector<Duration> expected = {80ms,   160ms,  320ms,  640ms,
                                            1280ms, 2560ms, 5000ms, 5000ms};
    simService().stopStreamWithError(windowID, streamFailure());
    for (std::size_t i = 0; i + 1 < expected.size(); ++i) {
        simService().failNextStart(streamFailure());
        runtime->advanceBy(expected[i]);
    }
    runtime->advanceBy(expected.back());
    runtime->runUntilIdle();

    const auto starts = service->starts();
    ASSERT_EQ(starts.size(), expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(starts[i + 1] - starts[i], expected[i]) << "attempt " << i + 1;
    }
    EXPECT_TRUE(controller->isCapturing().get());
    EXPECT_FALSE(controller->hasError().get());
    EXPECT_EQ(controller->restartAttempts(), 0);

    // After a success the next failure starts again from the shortest delay.
    simService().stopStreamWithError(windowID, streamFailure());
    runtime->advanceBy(80ms);
    runtime->runUntilIdle();
    const auto after = service->starts();
    ASSERT_EQ(after.size(), starts.size() + 1);
    EXPECT_TRUE(controller->isCapturing().get());
}

TEST_F(WindowStreamControllerTest, NoRestartOnceTheWindowLeftTheCapturableContent) {
    auto controller = makeController();
    start(*controller);
    refreshContent();
    ASSERT_TRUE(provider->currentContent().has_value());
    desktop->minimize(windowID);
    refreshContent();

    simService().stopStreamWithError(windowID, streamFailure());
    runtime->advanceBy(10s);

    EXPECT_EQ(service->starts().size(), 1u);
    EXPECT_FALSE(controller->isCapturing().get());
    EXPECT_EQ(registry->registeredController(windowID), nullptr);
}

TEST_F(WindowStreamControllerTest, NoRestartForAWindowThatWasNotOnScreen) {
    auto controller = makeController();
    controller->startCapture(window(windowID, /*onScreen=*/false), kDisplay, 800, 600, 1.0);
    runtime->runUntilIdle();
    simService().stopStreamWithError(windowID, streamFailure());
    runtime->advanceBy(10s);

    EXPECT_EQ(service->starts().size(), 1u);
    EXPECT_FALSE(controller->isActive());
}

TEST_F(WindowStreamControllerTest, AStopDuringTheDelayCancelsTheRestart) {
    auto controller = makeController();
    start(*controller);
    simService().stopStreamWithError(windowID, streamFailure());
    runtime->advanceBy(40ms);
    controller->stopCapture();
    // Started again before the old delay ran out: the stale restart must not disturb it.
    start(*controller);
    runtime->advanceBy(10s);

    EXPECT_EQ(service->starts().size(), 2u);
    EXPECT_TRUE(controller->isCapturing().get());
}

TEST_F(WindowStreamControllerTest, ARestartPendingForAControllerThatIsGoneDoesNothing) {
    auto controller = makeController();
    start(*controller);
    simService().stopStreamWithError(windowID, streamFailure());
    runtime->runUntilIdle();
    controller.reset();
    runtime->advanceBy(10s);

    EXPECT_EQ(service->starts().size(), 1u);
    EXPECT_EQ(simService().activeStreamCount(windowID), 0);
}

TEST_F(WindowStreamControllerTest, ARestartLimitStopsRestartingButKeepsTheError) {
    auto controller = makeController();
    controller->setMaxRestartAttempts(2);
    start(*controller);
    simService().stopStreamWithError(windowID, streamFailure());
    simService().failNextStart(streamFailure());
    runtime->advanceBy(80ms);
    simService().failNextStart(streamFailure());
    runtime->advanceBy(160ms);
    runtime->advanceBy(10s);

    EXPECT_EQ(service->starts().size(), 3u);
    EXPECT_TRUE(controller->hasError().get());
    EXPECT_FALSE(controller->isCapturing().get());
}

TEST(WindowStreamControllerDelayTest, DelayTable) {
    const std::vector<std::pair<int, Duration>> cases = {{0, 80ms},   {1, 80ms},   {2, 160ms},
                                                         {6, 2560ms}, {7, 5000ms}, {50, 5000ms}};
    for (const auto& [attempt, delay] : cases) {
        EXPECT_EQ(WindowStreamController::restartDelay(attempt), delay) << attempt;
    }
}

}  // namespace
}  // namespace tovalo
