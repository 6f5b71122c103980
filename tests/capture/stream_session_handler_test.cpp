#include "capture/stream_session_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "base/manual_dispatch_runtime.h"
#include "capture/stream_configuration_factory.h"
#include "capture/window_server_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_stream.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_video_frame.h"
#include "platform/sim/sim_window_server.h"

namespace tovalo {
namespace {

using namespace std::chrono_literals;
using Status = std::pair<bool, bool>;

constexpr Status kCapturing{true, false};
constexpr Status kStopped{false, false};
constexpr Status kFailed{false, true};

Error streamError(std::int64_t code) {
    return Error{kSCStreamErrorDomain, code, "scripted failure"};
}

// ---- Configuration ----

struct PixelCase {
    double points;
    double scale;
    std::uint32_t pixels;
};

TEST(StreamConfigurationFactoryTest, PixelLengthRoundsHalvesAwayFromZero) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<PixelCase> cases = {
        {800, 2.0, 1600},   {600, 2.0, 1200},
        {100.25, 2.0, 201}, {100.2, 2.0, 200},
        {100.75, 1.0, 101}, {100.5, 1.0, 101},
        {0.25, 2.0, 1},     {0.2, 2.0, 0},
        {333.3, 1.5, 500},  {1e12, 2.0, std::numeric_limits<std::uint32_t>::max()},
        {-0.25, 2.0, 0},    {nan, 2.0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamConfigurationFactory::pixelLength(c.points, c.scale), c.pixels)
            << c.points << " x " << c.scale;
    }
}

TEST(StreamConfigurationFactoryTest, ConfigurationIsBgraSrgbWithoutCursorAtSixtyFramesAtMost) {
    const SCStreamConfiguration config = StreamConfigurationFactory::make(800, 600, 2.0);
    EXPECT_EQ(config.pixelFormat, PixelFormat::bgra);
    EXPECT_EQ(config.colorSpace, ColorSpace::sRGB);
    EXPECT_FALSE(config.showsCursor);
    EXPECT_EQ(config.minimumFrameInterval, seconds(1.0 / 60.0));
    EXPECT_FALSE(config.capturesAudio);
    EXPECT_EQ(config.width, 1600u);
    EXPECT_EQ(config.height, 1200u);
}

// ---- The session on the simulated desktop ----

class StreamSessionHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reporter->start();
        app = desktop->launchApp("org.example.Editor", "Editor");
        windowID = desktop->openWindow(app, "Notes", kFrame);
        handler = makeHandler(desktop->sharedCaptureService());
    }

    SCWindow targetWindow() const {
        return SCWindow{windowID, kFrame, "Notes",
                        SCRunningApplication{"org.example.Editor", "Editor", 0}, true};
    }

    std::shared_ptr<StreamSessionHandler> makeHandler(std::shared_ptr<CaptureService> service) {
        StreamStopDiagnosticsSources sources{
            [info = windowServerInfo](WindowID id) { return info->windowBounds(id); },
            [info = windowServerInfo](WindowID id) { return info->windowInfo(id); },
            [this] { return cachedContent; }};
        auto made = StreamSessionHandler::create(targetWindow(),
                                                 {runtime, std::move(service), reporter, sources});
        made->setOnStatusChange([this](bool isCapturing, bool hasError) {
            statuses.emplace_back(isCapturing, hasError);
            statusesOffMain += runtime->mainQueue()->isCurrent() ? 0 : 1;
        });
        made->setOnFrameReceived(
            [this, weak = std::weak_ptr<StreamSessionHandler>(made)](const VideoFrameRef& frame) {
                frames.push_back(frame);
                auto strong = weak.lock();
                framesOffSampleQueue += strong && strong->sampleQueue()->isCurrent() ? 0 : 1;
            });
        return made;
    }

    void start(double width = 800, double height = 600, double scale = 2.0) {
        handler->startCapture(width, height, scale);
        runtime->runUntilIdle();
    }
    void stop() {
        handler->stopCapture();
        runtime->runUntilIdle();
    }
    void advance(Duration d) {
        runtime->advanceBy(d);
        runtime->runUntilIdle();
    }
    std::size_t deliverFrame() {
        const std::size_t before = frames.size();
        desktop->captureService().deliverFrame(windowID);
        advance(100ms);
        return frames.size() - before;
    }

    std::vector<sim::RecordedReport> reports() const { return client.reports(); }

    const Rect kFrame{100, 100, 800, 600};

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    std::shared_ptr<WindowServerInfo> windowServerInfo =
        WindowServerInfo::create(desktop->windowServer(), runtime);
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    std::shared_ptr<ErrorReporter> reporter = std::make_shared<ErrorReporter>(
        client, hooks, "https://0123456789abcdef0123456789abcdef@host/42");
    std::shared_ptr<sim::SimRunningApplication> app;
    WindowID windowID = 0;
    std::optional<FilteredShareableContent> cachedContent;
    std::shared_ptr<StreamSessionHandler> handler;

    bool logged(const std::string& message) const {
        std::lock_guard lock(logMutex);
        return std::any_of(logLines.begin(), logLines.end(),
                           [&](const DebugLogLine& line) { return line.message == message; });
    }

    mutable std::mutex logMutex;
    std::vector<DebugLogLine> logLines;
    ScopedDebugLogSink logSink{[this](const DebugLogLine& line) {
        std::lock_guard lock(logMutex);
        logLines.push_back(line);
    }};

    std::vector<Status> statuses;
    int statusesOffMain = 0;
    std::vector<VideoFrameRef> frames;
    int framesOffSampleQueue = 0;
};

TEST_F(StreamSessionHandlerTest, StartCapturesTheWindowInPixelsAndDeliversFrames) {
    start(800, 600, 2.0);

    EXPECT_EQ(statuses, std::vector<Status>{kCapturing});
    EXPECT_EQ(desktop->captureService().runningStreamCount(windowID), 1);
    const auto streams = desktop->captureService().streams(windowID);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]->filter().desktopIndependentWindow, windowID);
    EXPECT_EQ(streams[0]->configuration(), StreamConfigurationFactory::make(800, 600, 2.0));
    EXPECT_EQ(streams[0]->configuration().width, 1600u);

    EXPECT_EQ(deliverFrame(), 1u);
    EXPECT_EQ(deliverFrame(), 1u);
    EXPECT_EQ(framesOffSampleQueue, 0);
    EXPECT_EQ(statusesOffMain, 0);
    EXPECT_TRUE(reports().empty());
}

TEST_F(StreamSessionHandlerTest, StopEndsTheStreamAndNoFrameArrivesAfterIt) {
    start();
    ASSERT_EQ(deliverFrame(), 1u);
    desktop->captureService().setFrameRate(30);

    stop();
    advance(1s);
    const std::size_t framesAtStop = frames.size();
    EXPECT_EQ(statuses, (std::vector<Status>{kCapturing, kStopped}));
    EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 0);

    EXPECT_EQ(deliverFrame(), 0u);
    advance(1s);
    EXPECT_EQ(frames.size(), framesAtStop);
    EXPECT_TRUE(reports().empty());
}

TEST_F(StreamSessionHandlerTest, StopWithoutStreamReportsStoppedAtOnce) {
    stop();
    EXPECT_EQ(statuses, std::vector<Status>{kStopped});
    EXPECT_TRUE(desktop->captureService().streams().empty());
}

// A stop that follows a start at once is remembered and carried out when the start ends; the
// owner never sees the session as capturing.
struct ImmediateStopCase {
    const char* name;
    Duration startDelay;
    // Whether the stop is asked for only after the start reached the capture service.
    bool stopAfterStartBegan;
    std::optional<Error> startFailure;
    std::size_t expectedReports;
    // Whether the start is called off before the service is asked at all.
    bool cancelled;
};

TEST_F(StreamSessionHandlerTest, StartThenImmediateStopEndsStoppedWithoutEverCapturing) {
    const std::vector<ImmediateStopCase> cases = {
        {"stop queued behind the start", 0ms, false, std::nullopt, 0, true},
        {"stop while the service starts", 50ms, true, std::nullopt, 0, false},
        // The failure is still reported, but the owner asked for a stop: no error status.
        {"start fails while a stop waits", 50ms, true, streamError(-3812), 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        statuses.clear();
        {
            std::lock_guard lock(logMutex);
            logLines.clear();
        }
        handler = makeHandler(desktop->sharedCaptureService());
        const std::size_t reportsBefore = reports().size();
        desktop->captureService().setStartDelay(c.startDelay);
        if (c.startFailure) {
            desktop->captureService().failNextStart(*c.startFailure);
        }

        handler->startCapture(800, 600, 2.0);
        if (c.stopAfterStartBegan) {
            runtime->runUntilIdle();
        }
        handler->stopCapture();
        advance(1s);

        EXPECT_EQ(statuses, std::vector<Status>{kStopped});
        EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 0);
        EXPECT_EQ(deliverFrame(), 0u);
        EXPECT_EQ(reports().size(), reportsBefore + c.expectedReports);
        EXPECT_EQ(logged("Capture start cancelled"), c.cancelled);
    }
}

TEST_F(StreamSessionHandlerTest, StartWhileStoppingIsDropped) {
    start();
    desktop->captureService().setStopDelay(50ms);
    handler->stopCapture();
    runtime->runUntilIdle();
    handler->startCapture(400, 300, 2.0);
    advance(1s);

    EXPECT_EQ(statuses, (std::vector<Status>{kCapturing, kStopped}));
    EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 0);
    EXPECT_EQ(desktop->captureService().streams(windowID).size(), 0u);

    // The dropped start leaves nothing behind: the next start works normally.
    start();
    EXPECT_EQ(statuses.back(), kCapturing);
    EXPECT_EQ(desktop->captureService().runningStreamCount(windowID), 1);
}

TEST_F(StreamSessionHandlerTest, SecondStartWhileStartingOnlyResizesTheStreamBeingStarted) {
    desktop->captureService().setStartDelay(50ms);
    handler->startCapture(800, 600, 2.0);
    runtime->runUntilIdle();
    handler->startCapture(400, 300, 1.0);
    advance(1s);

    EXPECT_EQ(statuses, std::vector<Status>{kCapturing});
    const auto streams = desktop->captureService().streams(windowID);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]->startCallCount(), 1);
    EXPECT_EQ(streams[0]->configuration().width, 400u);
    EXPECT_EQ(streams[0]->configuration().height, 300u);
}

TEST_F(StreamSessionHandlerTest, StartWhileRunningReplacesTheStreamAndStopsTheOldOne) {
    start(800, 600, 2.0);
    start(400, 300, 1.0);

    EXPECT_EQ(statuses, (std::vector<Status>{kCapturing, kCapturing}));
    EXPECT_EQ(desktop->captureService().runningStreamCount(windowID), 1);
    EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 1);
    EXPECT_EQ(deliverFrame(), 1u);

    stop();
    EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 0);
    EXPECT_EQ(deliverFrame(), 0u);
}

struct StartFailureCase {
    const char* name;
    Error error;
    Status status;
    bool reported;
};

TEST_F(StreamSessionHandlerTest, StartFailureIsClassifiedAndReported) {
    const std::vector<StartFailureCase> cases = {
        {"stop-state error is an ordinary stop",
         streamError(kSCStreamErrorAttemptToStopStreamState), kStopped, false},
        {"permission declined", streamError(kSCStreamErrorUserDeclined), kFailed, true},
        {"same code in another domain", Error{"org.example.Other", -3808, "other"}, kFailed, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        statuses.clear();
        const std::size_t reportsBefore = reports().size();
        desktop->captureService().failNextStart(c.error);
        start();

        EXPECT_EQ(statuses, std::vector<Status>{c.status});
        EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 0);
        const auto all = reports();
        ASSERT_EQ(all.size(), reportsBefore + (c.reported ? 1 : 0));
        if (c.reported) {
            const auto& report = all.back();
            EXPECT_EQ(report.error, c.error);
            EXPECT_EQ(report.scope.level(), ReportLevel::error);
            EXPECT_TRUE(report.scope.tags().empty());
            const ValueMap& extras = report.scope.extras();
            EXPECT_EQ(extras.at("operation"), Value("StreamSessionHandler.startCapture"));
            EXPECT_EQ(extras.at("window_id"), Value(windowID));
            EXPECT_EQ(extras.at("source_file"), Value("stream_session_handler"));
        }
        // The failed start left no stream: a stop reports stopped at once.
        stop();
        EXPECT_EQ(statuses.back(), kStopped);
    }
}

TEST_F(StreamSessionHandlerTest, OnlyValidScreenFramesReachTheCallback) {
    auto frame = [this](bool valid) -> VideoFrameRef {
        return std::make_shared<sim::SimVideoFrame>(windowID, 1, 16, 16, runtime->now(), valid);
    };
    struct FrameCase {
        const char* name;
        VideoFrameRef frame;
        StreamOutputType type;
        bool delivered;
    };
    const std::vector<FrameCase> cases = {
        {"valid screen frame", frame(true), StreamOutputType::screen, true},
        {"audio sample", frame(true), StreamOutputType::audio, false},
        {"microphone sample", frame(true), StreamOutputType::microphone, false},
        {"invalid screen frame", frame(false), StreamOutputType::screen, false},
        {"no frame", nullptr, StreamOutputType::screen, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        frames.clear();
        handler->didOutputSample(c.frame, c.type);
        ASSERT_EQ(frames.size(), c.delivered ? 1u : 0u);
        if (c.delivered) {
            EXPECT_EQ(frames[0], c.frame);
        }
    }
}

TEST_F(StreamSessionHandlerTest, SystemStopReportsDiagnosticsAndLeavesTheStreamToTheOwner) {
    cachedContent = FilteredShareableContent{{}, {targetWindow()}};
    start();
    const Error ended = streamError(sim::kSCStreamErrorNoCaptureSource);
    desktop->captureService().stopStreamWithError(windowID, ended);
    runtime->runUntilIdle();

    EXPECT_EQ(statuses, (std::vector<Status>{kCapturing, kFailed}));
    ASSERT_EQ(reports().size(), 1u);
    const auto report = reports()[0];
    EXPECT_EQ(report.error, ended);
    const ValueMap& extras = report.scope.extras();
    EXPECT_EQ(extras.at("operation"), Value("StreamSessionHandler.didStopWithError"));
    EXPECT_EQ(extras.at("window_id"), Value(windowID));
    EXPECT_EQ(extras.at("window_title"), Value("Notes"));
    EXPECT_EQ(extras.at("bundle_id"), Value("org.example.Editor"));
    EXPECT_EQ(extras.at("scwindow_isOnScreen"), Value(true));
    EXPECT_EQ(extras.at("scwindow_frame"), Value("{{100, 100}, {800, 600}}"));
    EXPECT_EQ(extras.at("cgwindow_frame"),
              Value(rectToString(*windowServerInfo->windowBounds(windowID))));
    ASSERT_TRUE(extras.at("cgwindow_info").isMap());
    EXPECT_EQ(extras.at("cgwindow_info"), Value(*windowServerInfo->windowInfo(windowID)));
    EXPECT_EQ(extras.at("in_cached_content"), Value(true));
    EXPECT_EQ(extras.at("current_frame"), Value("{{100, 100}, {800, 600}}"));

    // The stream is still the handler's: a stop goes the normal way and, the stream being
    // already ended, files nothing more.
    stop();
    EXPECT_EQ(statuses.back(), kStopped);
    EXPECT_EQ(reports().size(), 1u);
    EXPECT_EQ(desktop->captureService().activeStreamCount(windowID), 0);
}

TEST_F(StreamSessionHandlerTest, SystemStopOfAClosedWindowWithoutCacheSaysWhatIsUnknown) {
    start();
    desktop->closeWindow(windowID);
    runtime->runUntilIdle();

    EXPECT_EQ(statuses, (std::vector<Status>{kCapturing, kFailed}));
    ASSERT_EQ(reports().size(), 1u);
    const auto report = reports()[0];
    const ValueMap& extras = report.scope.extras();
    EXPECT_EQ(extras.at("operation"), Value("StreamSessionHandler.didStopWithError"));
    EXPECT_EQ(extras.at("cgwindow_frame"), Value("<nil>"));
    EXPECT_EQ(extras.at("cgwindow_info"), Value("<nil>"));
    EXPECT_EQ(extras.at("in_cached_content"), Value("<no_cache>"));
    EXPECT_TRUE(extras.at("current_frame").isNull());
}

TEST(StreamStopDiagnosticsTest, WindowWithoutNamesAndOutsideTheCache) {
    const SCWindow window{7, Rect{0, 0, 10, 20}, std::nullopt, std::nullopt, false};
    const StreamStopDiagnosticsSources sources{
        {}, {}, [] { return std::optional<FilteredShareableContent>(FilteredShareableContent{}); }};
    const DebugLogProperties expected = {
        {"scwindow_isOnScreen", false}, {"scwindow_frame", "{{0, 0}, {10, 20}}"},
        {"cgwindow_frame", "<nil>"},    {"cgwindow_info", "<nil>"},
        {"in_cached_content", false},   {"current_frame", "{{0, 0}, {10, 20}}"},
    };
    EXPECT_EQ(streamStopDiagnostics(window, sources), expected);
}

TEST_F(StreamSessionHandlerTest, StopFailureIsReportedAndTheSessionStillStops) {
    start();
    const Error failure = streamError(sim::kSCStreamErrorInvalidParameter);
    desktop->captureService().failNextStop(failure);
    stop();

    EXPECT_EQ(statuses, (std::vector<Status>{kCapturing, kStopped}));
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].error, failure);
    EXPECT_EQ(reports()[0].scope.extras().at("operation"),
              Value("StreamSessionHandler.stopCapture"));
    EXPECT_EQ(reports()[0].scope.extras().at("window_id"), Value(windowID));
    EXPECT_EQ(deliverFrame(), 0u);
}

// A capture service whose streams refuse every output.
class RefusingStream final : public SCStream {
  public:
    std::optional<Error> addStreamOutput(std::shared_ptr<SCStreamOutput>,
                                         std::shared_ptr<DispatchQueue>) override {
        return streamError(sim::kSCStreamErrorInvalidParameter);
    }
    std::optional<Error> removeStreamOutput(const std::shared_ptr<SCStreamOutput>&) override {
        return std::nullopt;
    }
    void startCapture(CaptureCompletion completion) override { completion(std::nullopt); }
    void stopCapture(CaptureCompletion completion) override { completion(std::nullopt); }
    void updateConfiguration(const SCStreamConfiguration&, CaptureCompletion completion) override {
        completion(std::nullopt);
    }
};

class RefusingCaptureService final : public CaptureService {
  public:
    void getShareableContent(bool, bool, std::function<void(ShareableContentResult)>) override {}
    std::shared_ptr<SCStream> makeStream(const SCContentFilter&, const SCStreamConfiguration&,
                                         std::weak_ptr<SCStreamDelegate>) override {
        return std::make_shared<RefusingStream>();
    }
    bool preflightScreenCaptureAccess() override { return true; }
    bool requestScreenCaptureAccess() override { return true; }
};

TEST_F(StreamSessionHandlerTest, RefusedOutputFailsTheStartWithAReport) {
    handler = makeHandler(std::make_shared<RefusingCaptureService>());
    start();

    // Once for the refused output, once for the start that could not go on.
    EXPECT_EQ(statuses, (std::vector<Status>{kFailed, kFailed}));
    ASSERT_EQ(reports().size(), 1u);
    EXPECT_EQ(reports()[0].scope.extras().at("operation"),
              Value("StreamSessionHandler.addStreamOutput"));
    EXPECT_EQ(reports()[0].scope.extras().at("window_id"), Value(windowID));
    stop();
    EXPECT_EQ(statuses.back(), kStopped);
}

TEST_F(StreamSessionHandlerTest, NothingIsDeliveredOnceTheHandlerIsGone) {
    start();
    handler->stopCapture();
    handler.reset();
    runtime->runUntilIdle();

    EXPECT_EQ(statuses, std::vector<Status>{kCapturing});
    // The stream of a handler that is gone is released, not left capturing.
    EXPECT_EQ(desktop->captureService().runningStreamCount(windowID), 0);
}

}  // namespace
}  // namespace tovalo
