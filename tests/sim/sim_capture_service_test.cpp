#include "platform/sim/sim_capture_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_stream.h"
#include "platform/sim/sim_video_frame.h"

namespace tovalo::sim {
namespace {

class RecordingOutput final : public SCStreamOutput {
  public:
    void didOutputFrame(SCStream& /*stream*/, const VideoFrameRef& frame) override {
        frames.push_back(frame);
        if (onFrame) {
            onFrame();
        }
    }

    std::vector<std::uint64_t> sequenceNumbers() const {
        std::vector<std::uint64_t> result;
        for (const auto& frame : frames) {
            result.push_back(dynamic_cast<const SimVideoFrame&>(*frame).sequenceNumber());
        }
        return result;
    }

    std::vector<VideoFrameRef> frames;
    std::function<void()> onFrame;
};

class RecordingDelegate final : public SCStreamDelegate {
  public:
    explicit RecordingDelegate(std::shared_ptr<DispatchQueue> serviceQueue)
        : serviceQueue_(std::move(serviceQueue)) {}

    void didStopWithError(SCStream& /*stream*/, const Error& error) override {
        errors.push_back(error);
        onServiceQueue.push_back(serviceQueue_->isCurrent());
    }

    std::vector<Error> errors;
    std::vector<bool> onServiceQueue;

  private:
    std::shared_ptr<DispatchQueue> serviceQueue_;
};

class CaptureFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        editor = desktop->launchApp("org.example.Editor", "Editor");
        notes = desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
        stream = makeStream(Duration::zero());
    }

    std::shared_ptr<SimStream> makeStream(Duration minimumFrameInterval) {
        SCStreamConfiguration configuration;
        configuration.width = 160;
        configuration.height = 120;
        configuration.minimumFrameInterval = minimumFrameInterval;
        return std::dynamic_pointer_cast<SimStream>(
            capture().makeStream(SCContentFilter{notes}, configuration, delegate));
    }

    SimCaptureService& capture() { return desktop->captureService(); }

    // Starts `stream` with `output` attached and waits for the start.
    void startWithOutput() {
        ASSERT_FALSE(stream->addStreamOutput(output, outputQueue).has_value());
        std::optional<Error> result = Error{};
        stream->startCapture([&](const std::optional<Error>& error) { result = error; });
        runtime->runUntilIdle();
        ASSERT_FALSE(result.has_value());
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::make(runtime);
    std::shared_ptr<SimRunningApplication> editor;
    WindowID notes = 0;
    std::shared_ptr<RecordingDelegate> delegate =
        std::make_shared<RecordingDelegate>(desktop->captureService().queue());
    std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
    std::shared_ptr<DispatchQueue> outputQueue = runtime->makeSerialQueue("capture");
    std::shared_ptr<SimStream> stream;
};

TEST_F(CaptureFixture, ShareableContentAnswersLaterOnTheServiceQueue) {
    auto viewer = desktop->launchApp("org.example.Viewer", "Viewer");
    WindowID hidden = desktop->openWindow(viewer, std::nullopt, Rect{0, 0, 300, 200});
    desktop->minimize(hidden);

    std::vector<ShareableContentResult> answers;
    bool onServiceQueue = false;
    capture().getShareableContent(true, true, [&](ShareableContentResult result) {
        onServiceQueue = capture().queue()->isCurrent();
        answers.push_back(std::move(result));
    });
    EXPECT_TRUE(answers.empty());
    runtime->runUntilIdle();

    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(onServiceQueue);
    const auto& content = std::get<SCShareableContent>(answers[0]);
    ASSERT_EQ(content.displays.size(), 1u);
    EXPECT_EQ(content.displays[0],
              (SCDisplay{desktop->primaryDisplayID(), Rect{0, 0, 1440, 900}, 1440, 900}));
    ASSERT_EQ(content.windows.size(), 1u);
    EXPECT_EQ(
        content.windows[0],
        (SCWindow{notes, Rect{100, 100, 800, 600}, "Notes",
                  SCRunningApplication{"org.example.Editor", "Editor", editor->processIdentifier()},
                  true}));

    capture().getShareableContent(
        true, false, [&](ShareableContentResult result) { answers.push_back(std::move(result)); });
    runtime->runUntilIdle();
    const auto& all = std::get<SCShareableContent>(answers[1]);
    ASSERT_EQ(all.windows.size(), 2u);
    // Front to back: the minimised window was opened last.
    EXPECT_EQ(all.windows[0].windowID, hidden);
    EXPECT_FALSE(all.windows[0].isOnScreen);
    EXPECT_FALSE(all.windows[0].title.has_value());
}

TEST_F(CaptureFixture, ShareableContentFailsWhenDeclinedOrInjected) {
    std::vector<ShareableContentResult> answers;
    auto ask = [&] {
        capture().getShareableContent(true, true, [&](ShareableContentResult result) {
            answers.push_back(std::move(result));
        });
        runtime->runUntilIdle();
    };
    desktop->setScreenRecordingAllowed(false);
    ask();
    desktop->setScreenRecordingAllowed(true);
    capture().failNextShareableContent(Error{"Other", 7, "injected"});
    ask();
    ask();

    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(std::get<Error>(answers[0]).code, kSCStreamErrorUserDeclined);
    EXPECT_EQ(std::get<Error>(answers[0]).domain, kSCStreamErrorDomain);
    EXPECT_EQ(std::get<Error>(answers[1]), (Error{"Other", 7, "injected"}));
    EXPECT_TRUE(std::holds_alternative<SCShareableContent>(answers[2]));
}

// One step of a start/stop script: what the test does before the service runs.
struct StartStopCase {
    const char* label;
    std::function<void(SimCaptureService&, SimStream&, std::vector<std::string>&)> script;
    std::vector<std::string> expected;
    int runningAfter;
};

CaptureCompletion recordAs(std::vector<std::string>& log, std::string label,
                           std::shared_ptr<DispatchQueue> serviceQueue) {
    return [&log, label = std::move(label), serviceQueue](const std::optional<Error>& error) {
        std::string entry = label + ":" + (error ? std::to_string(error->code) : "ok");
        if (!serviceQueue->isCurrent()) {
            entry += " (off the service queue)";
        }
        log.push_back(entry);
    };
}

TEST_F(CaptureFixture, StartAndStopEachCompleteExactlyOnce) {
    auto q = desktop->captureService().queue();
    const std::vector<StartStopCase> cases = {
        {"start, then stop",
         [q](SimCaptureService&, SimStream& s, std::vector<std::string>& log) {
             s.startCapture(recordAs(log, "start", q));
             s.stopCapture(recordAs(log, "stop", q));
         },
         {"start:-3808", "stop:ok"},
         0},
        {"stop a stream never started",
         [q](SimCaptureService&, SimStream& s, std::vector<std::string>& log) {
             s.stopCapture(recordAs(log, "stop", q));
         },
         {"stop:-3808"},
         0},
        {"start twice",
         [q](SimCaptureService&, SimStream& s, std::vector<std::string>& log) {
             s.startCapture(recordAs(log, "start", q));
             s.startCapture(recordAs(log, "again", q));
         },
         {"start:ok", "again:-3807"},
         1},
        {"injected start failure",
         [q](SimCaptureService& c, SimStream& s, std::vector<std::string>& log) {
             c.failNextStart(Error{kSCStreamErrorDomain, kSCStreamErrorUserDeclined, "no"});
             s.startCapture(recordAs(log, "start", q));
         },
         {"start:-3801"},
         0},
        {"a stop failure waits for a stream that runs",
         [q](SimCaptureService& c, SimStream& s, std::vector<std::string>& log) {
             c.failNextStop(Error{kSCStreamErrorDomain, -3811, "internal"});
             s.stopCapture(recordAs(log, "idle stop", q));  // not running: the failure waits
             s.startCapture(recordAs(log, "start", q));
         },
         {"idle stop:-3808", "start:ok"},
         1},
        {"start of a closed window",
         [q](SimCaptureService&, SimStream& s, std::vector<std::string>& log) {
             s.startCapture(recordAs(log, "start", q));
         },
         {"start:-3815"},
         0},
    };
    for (const auto& c : cases) {
        auto editorWindow = desktop->openWindow(editor, "Case", Rect{0, 0, 200, 200});
        auto caseStream = std::dynamic_pointer_cast<SimStream>(
            capture().makeStream(SCContentFilter{editorWindow}, {}, delegate));
        if (std::string(c.label) == "start of a closed window") {
            desktop->closeWindow(editorWindow);
        }
        std::vector<std::string> log;
        c.script(capture(), *caseStream, log);
        runtime->runUntilIdle();
        EXPECT_EQ(log, c.expected) << c.label;
        EXPECT_EQ(capture().runningStreamCount(editorWindow), c.runningAfter) << c.label;
    }
}

TEST_F(CaptureFixture, AFailedStopKeepsTheStreamRunningUntilAStopSucceeds) {
    startWithOutput();
    auto q = capture().queue();
    std::vector<std::string> log;
    capture().failNextStop(Error{kSCStreamErrorDomain, -3811, "internal"});
    stream->stopCapture(recordAs(log, "stop", q));
    runtime->runUntilIdle();
    EXPECT_EQ(capture().runningStreamCount(notes), 1);
    stream->stopCapture(recordAs(log, "stop again", q));
    stream->stopCapture(recordAs(log, "third stop", q));
    runtime->runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"stop:-3811", "stop again:ok", "third stop:-3808"}));
    EXPECT_EQ(capture().activeStreamCount(), 0);
}

TEST_F(CaptureFixture, StartAndStopTakeTheirDelaysOnVirtualTime) {
    capture().setStartDelay(milliseconds(200));
    capture().setStopDelay(milliseconds(50));
    auto q = capture().queue();
    std::vector<std::string> log;

    stream->startCapture(recordAs(log, "start", q));
    runtime->advanceBy(milliseconds(199));
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(capture().activeStreamCount(notes), 1);
    EXPECT_EQ(capture().runningStreamCount(notes), 0);
    runtime->advanceBy(milliseconds(1));
    EXPECT_EQ(log, std::vector<std::string>{"start:ok"});

    stream->stopCapture(recordAs(log, "stop", q));
    runtime->advanceBy(milliseconds(49));
    EXPECT_EQ(log.size(), 1u);
    runtime->advanceBy(milliseconds(1));
    EXPECT_EQ(log, (std::vector<std::string>{"start:ok", "stop:ok"}));
}

TEST_F(CaptureFixture, FramesCarryTheConfiguredSizeInOrder) {
    startWithOutput();
    capture().deliverFrame(notes);
    runtime->advanceBy(milliseconds(10));
    capture().deliverFrame(notes);
    capture().deliverFrame(notes + 1000);  // another window: nothing
    runtime->runUntilIdle();

    ASSERT_EQ(output->sequenceNumbers(), (std::vector<std::uint64_t>{1, 2}));
    const auto& second = *output->frames[1];
    EXPECT_EQ(second.width(), 160u);
    EXPECT_EQ(second.height(), 120u);
    EXPECT_EQ(second.bytesPerRow(), 160u * 4);
    EXPECT_EQ(second.timestamp() - output->frames[0]->timestamp(), milliseconds(10));
    const std::uint32_t colour = SimVideoFrame::fillColour(notes, 2);
    EXPECT_EQ(second.data()[0], colour & 0xFF);
    EXPECT_EQ(second.data()[2], (colour >> 16) & 0xFF);
}

TEST_F(CaptureFixture, NoFrameReachesAnOutputAfterItsRemovalReturned) {
    startWithOutput();
    capture().deliverFrame(notes);
    // The frame is queued on the output's queue; removing the output drops it.
    EXPECT_FALSE(stream->removeStreamOutput(output).has_value());
    runtime->runUntilIdle();
    EXPECT_TRUE(output->frames.empty());
    EXPECT_TRUE(stream->removeStreamOutput(output).has_value());

    // An output may remove itself while it handles a frame; the next frame is dropped.
    ASSERT_FALSE(stream->addStreamOutput(output, outputQueue).has_value());
    output->onFrame = [&] { EXPECT_FALSE(stream->removeStreamOutput(output).has_value()); };
    capture().deliverFrame(notes);
    capture().deliverFrame(notes);
    runtime->runUntilIdle();
    EXPECT_EQ(output->frames.size(), 1u);
}

TEST_F(CaptureFixture, AddingTheSameOutputTwiceFails) {
    ASSERT_FALSE(stream->addStreamOutput(output, outputQueue).has_value());
    auto error = stream->addStreamOutput(output, outputQueue);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, kSCStreamErrorDomain);
    EXPECT_EQ(stream->outputCount(), 1);
}

TEST_F(CaptureFixture, FramesArePacedByTheMinimumFrameInterval) {
    stream = makeStream(milliseconds(100));
    startWithOutput();
    const TimePoint started = runtime->now();
    capture().setFrameRate(60);
    runtime->advanceBy(seconds(1));

    // The window changes 60 times a second; the stream takes one frame per 100 ms, the first
    // at the first change.
    ASSERT_EQ(output->frames.size(), 10u);
    EXPECT_EQ(output->frames[0]->timestamp() - started, seconds(1.0 / 60));
    for (std::size_t i = 1; i < output->frames.size(); ++i) {
        EXPECT_EQ(output->frames[i]->timestamp() - output->frames[i - 1]->timestamp(),
                  milliseconds(100));
    }

    capture().setFrameRate(0);
    runtime->advanceBy(seconds(1));
    const auto count = output->frames.size();
    capture().deliverFrame(notes);
    capture().deliverFrame(notes);
    capture().deliverFrame(notes);
    runtime->runUntilIdle();
    EXPECT_EQ(output->frames.size(), count + 1);
    runtime->advanceBy(milliseconds(100));
    // Asked for sooner than the interval allows: the three requests made one more frame.
    EXPECT_EQ(output->frames.size(), count + 2);
    EXPECT_EQ(output->frames.back()->timestamp() - output->frames[count]->timestamp(),
              milliseconds(100));
}

TEST_F(CaptureFixture, ClosingTheWindowStopsItsStreamsThroughTheDelegate) {
    startWithOutput();
    EXPECT_EQ(capture().runningStreamCount(notes), 1);

    desktop->closeWindow(notes);
    capture().deliverFrame(notes);
    runtime->runUntilIdle();

    ASSERT_EQ(delegate->errors.size(), 1u);
    EXPECT_EQ(delegate->errors[0].domain, kSCStreamErrorDomain);
    EXPECT_EQ(delegate->errors[0].code, kSCStreamErrorNoCaptureSource);
    EXPECT_EQ(delegate->onServiceQueue, std::vector<bool>{true});
    EXPECT_EQ(capture().runningStreamCount(notes), 0);
    EXPECT_TRUE(output->frames.empty());

    std::vector<std::string> log;
    stream->stopCapture(recordAs(log, "stop", capture().queue()));
    runtime->runUntilIdle();
    EXPECT_EQ(log, std::vector<std::string>{"stop:-3808"});
    EXPECT_EQ(delegate->errors.size(), 1u);
}

TEST_F(CaptureFixture, QuittingTheOwnerAndScriptedErrorsStopStreamsToo) {
    startWithOutput();
    capture().stopStreamWithError(notes, Error{kSCStreamErrorDomain, -3817, "user stopped"});
    runtime->runUntilIdle();
    ASSERT_EQ(delegate->errors.size(), 1u);
    EXPECT_EQ(delegate->errors[0].code, -3817);

    std::optional<Error> restarted = Error{};
    stream->startCapture([&](const std::optional<Error>& error) { restarted = error; });
    runtime->runUntilIdle();
    EXPECT_FALSE(restarted.has_value());
    desktop->quitApp(editor);
    runtime->runUntilIdle();
    EXPECT_EQ(delegate->errors.size(), 2u);
    EXPECT_EQ(capture().activeStreamCount(), 0);
}

TEST_F(CaptureFixture, PermissionFollowsTheDesktopSwitch) {
    EXPECT_TRUE(capture().preflightScreenCaptureAccess());
    desktop->setScreenRecordingAllowed(false);
    EXPECT_FALSE(capture().preflightScreenCaptureAccess());
    EXPECT_FALSE(capture().requestScreenCaptureAccess());
    capture().setGrantsOnRequest(true);
    EXPECT_TRUE(capture().requestScreenCaptureAccess());
    EXPECT_TRUE(capture().preflightScreenCaptureAccess());
    EXPECT_EQ(capture().accessRequestCount(), 2);
}

}  // namespace
}  // namespace tovalo::sim
