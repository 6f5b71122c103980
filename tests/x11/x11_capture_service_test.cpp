#include "platform/x11/x11_capture_service.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "base/run_loop.h"
#include "platform/x11/x11_capture_errors.h"
#include "platform/x11/x11_capture_stream.h"
#include "platform/x11/x11_surface_frame.h"
#include "support/x11/x_session.h"

namespace tovalo::x11 {
namespace {

using tovalo::testing::XSession;
using namespace std::chrono_literals;

constexpr auto kGuard = 20s;  // a failure guard only: every wait wakes on an event

std::filesystem::path paintClientPath() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return self.parent_path() / "tovalo_paint_client";
}

// 0xRRGGBB of the pixel at the centre of a B, G, R, X frame.
std::uint32_t centreColour(const VideoFrame& frame) {
    const std::uint8_t* pixel =
        frame.data() + (frame.height() / 2) * frame.bytesPerRow() + (frame.width() / 2) * 4;
    return static_cast<std::uint32_t>(pixel[0]) | (static_cast<std::uint32_t>(pixel[1]) << 8) |
           (static_cast<std::uint32_t>(pixel[2]) << 16);
}

// Records what reaches one output; optionally keeps the frames (and so their buffers).
class FrameRecorder final : public SCStreamOutput {
  public:
    struct Seen {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::uint32_t colour = 0;
        TimePoint timestamp;
    };

    void didOutputFrame(SCStream&, const VideoFrameRef& frame) override {
        std::lock_guard lock(mutex_);
        if (inside_++ != 0) {
            overlapped_ = true;
        }
        seen_.push_back(
            {frame->width(), frame->height(), centreColour(*frame), frame->timestamp()});
        if (keepFrames_) {
            kept_.push_back(frame);
        }
        --inside_;
        changed_.notify_all();
    }

    std::vector<Seen> frames() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    std::size_t count() const { return frames().size(); }
    bool waitForColour(std::uint32_t colour) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard,
                                 [&] { return !seen_.empty() && seen_.back().colour == colour; });
    }
    void keepFrames(bool keep) {
        std::lock_guard lock(mutex_);
        keepFrames_ = keep;
    }
    VideoFrameRef lastKept() const {
        std::lock_guard lock(mutex_);
        return kept_.empty() ? nullptr : kept_.back();
    }
    void releaseFrames() {
        std::vector<VideoFrameRef> frames;
        {
            std::lock_guard lock(mutex_);
            frames.swap(kept_);
        }
    }
    bool overlapped() const {
        std::lock_guard lock(mutex_);
        return overlapped_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Seen> seen_;
    std::vector<VideoFrameRef> kept_;
    bool keepFrames_ = false;
    int inside_ = 0;
    bool overlapped_ = false;
};

class RecordingDelegate final : public SCStreamDelegate {
  public:
    void didStopWithError(SCStream&, const Error& error) override {
        std::lock_guard lock(mutex_);
        errors_.push_back(error);
        changed_.notify_all();
    }
    std::vector<Error> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    bool waitForError() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return !errors_.empty(); });
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Error> errors_;
};

// Collects the answers of a completion and waits for the first.
struct Completions {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Error>> results;

    CaptureCompletion callback() {
        return [this](const std::optional<Error>& error) {
            std::lock_guard lock(mutex);
            results.push_back(error);
            changed.notify_all();
        };
    }
    std::optional<Error> wait() {
        std::unique_lock lock(mutex);
        const bool done = changed.wait_for(lock, kGuard, [&] { return !results.empty(); });
        return done ? results.front() : Error{"test", 0, "no completion"};
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return results.size();
    }
};

// A paint client driven through a FIFO on its standard input.
struct Painter {
    pid_t pid = -1;
    xcb_window_t window = XCB_NONE;
    int input = -1;
    std::uint32_t acks = 1;
};

class X11CaptureServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session_ = XSession::start({}, &skipReason_).release();
        if (session_) {
            // New windows are managed only once the window manager runs its event loop: a
            // desktop switch it carries out shows that it does.
            Connection& connection = session_->connection();
            const xcb_atom_t current = connection.atom("_NET_CURRENT_DESKTOP");
            auto desktopIs = [&](std::uint32_t desktop) {
                Reply<xcb_get_property_reply_t> reply(
                    xcb_get_property_reply(connection.get(),
                                           xcb_get_property(connection.get(), 0, connection.root(),
                                                            current, XCB_ATOM_CARDINAL, 0, 1),
                                           nullptr));
                return reply && xcb_get_property_value_length(reply.get()) == 4 &&
                       *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())) ==
                           desktop;
            };
            for (const std::uint32_t desktop : {1u, 0u}) {
                // A request that arrives while it starts is dropped: ask again now and then.
                auto asked = std::chrono::steady_clock::time_point();
                session_->waitUntil(
                    [&] {
                        if (desktopIs(desktop)) {
                            return true;
                        }
                        if (std::chrono::steady_clock::now() - asked > 200ms) {
                            asked = std::chrono::steady_clock::now();
                            session_->run({"wmctrl", "-s", std::to_string(desktop)});
                        }
                        return false;
                    },
                    kGuard);
            }
        }
        if (session_ && !std::filesystem::exists(paintClientPath())) {
            skipReason_ = "tovalo_paint_client is not built next to the tests";
        }
    }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }

    void SetUp() override {
        if (!session_ || !std::filesystem::exists(paintClientPath())) {
            GTEST_SKIP() << skipReason_;
        }
        Error error;
        service_ =
            X11CaptureService::create(session_->displayName(), runtime_, &error, frameDelivery_);
        ASSERT_TRUE(service_) << error.description;
    }

    void TearDown() override {
        service_.reset();
        for (const auto& painter : painters_) {
            close(painter.input);
            session_->terminate(painter.pid);
        }
    }

    Painter startPainter(std::uint32_t colour, const std::string& geometry = "240x160",
                         const std::string& position = "") {
        const auto fifo =
            session_->home() / ("painter-" + std::to_string(painters_.size()) + "-" +
                                std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
        std::filesystem::remove(fifo);
        EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        Painter painter;
        // Read and write: opening never blocks and the client never sees an early end.
        painter.input = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
        std::string command = "exec '" + paintClientPath().string() + "' --size " + geometry +
                              " --color " + hex(colour) + " --title painter";
        if (!position.empty()) {
            command += " --position " + position;
        }
        painter.pid = session_->spawn({"sh", "-c", command + " < '" + fifo.string() + "'"});
        painters_.push_back(painter);
        painter.window = session_->waitForClientWindow(painter.pid, kGuard);
        EXPECT_NE(painter.window, XCB_NONE);
        EXPECT_TRUE(waitForAck(painter));
        return painter;
    }

    static std::string hex(std::uint32_t colour) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%06x", colour & 0xFFFFFFu);
        return buffer;
    }

    // Sends one line; returns once the server has drawn what it asked for.
    bool send(Painter& painter, const std::string& line) {
        const std::string text = line + "\n";
        if (write(painter.input, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            return false;
        }
        ++painter.acks;
        return waitForAck(painter);
    }
    bool paint(Painter& painter, std::uint32_t colour) {
        return send(painter, "color " + hex(colour));
    }

    bool waitForAck(const Painter& painter) {
        Connection& connection = session_->connection();
        const xcb_atom_t atom = connection.atom("_TOVALO_PAINT_ACK_" + std::to_string(painter.pid));
        return session_->waitUntil(
            [&] {
                Reply<xcb_get_property_reply_t> reply(
                    xcb_get_property_reply(connection.get(),
                                           xcb_get_property(connection.get(), 0, connection.root(),
                                                            atom, XCB_ATOM_CARDINAL, 0, 1),
                                           nullptr));
                return reply && xcb_get_property_value_length(reply.get()) == 4 &&
                       *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())) >=
                           painter.acks;
            },
            kGuard);
    }

    // The window the window manager says is active.
    xcb_window_t activeWindow() {
        Connection& connection = session_->connection();
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection.get(),
            xcb_get_property(connection.get(), 0, connection.root(),
                             connection.atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
            nullptr));
        return reply && xcb_get_property_value_length(reply.get()) == 4
                   ? *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()))
                   : xcb_window_t{XCB_NONE};
    }

    // Size of the window-manager frame around `client`.
    std::pair<std::uint32_t, std::uint32_t> frameSize(xcb_window_t client) {
        Connection& connection = session_->connection();
        xcb_window_t window = client;
        for (;;) {
            Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
                connection.get(), xcb_query_tree(connection.get(), window), nullptr));
            if (!tree || tree->parent == tree->root) {
                break;
            }
            window = tree->parent;
        }
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
            connection.get(), xcb_get_geometry(connection.get(), window), nullptr));
        return geometry ? std::pair<std::uint32_t, std::uint32_t>{geometry->width, geometry->height}
                        : std::pair<std::uint32_t, std::uint32_t>{0, 0};
    }

    struct Capture {
        std::shared_ptr<X11CaptureStream> stream;
        std::shared_ptr<FrameRecorder> frames = std::make_shared<FrameRecorder>();
        std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    };

    Capture makeCapture(const Painter& painter, SCStreamConfiguration configuration = {}) {
        Capture capture;
        capture.stream = std::dynamic_pointer_cast<X11CaptureStream>(
            service_->makeStream(SCContentFilter{painter.window}, configuration, capture.delegate));
        EXPECT_FALSE(capture.stream->addStreamOutput(capture.frames, frameQueue_));
        return capture;
    }

    std::optional<Error> start(SCStream& stream) {
        Completions completions;
        stream.startCapture(completions.callback());
        return completions.wait();
    }
    std::optional<Error> stop(SCStream& stream) {
        Completions completions;
        stream.stopCapture(completions.callback());
        return completions.wait();
    }

    // Every change drawn so far has been turned into frames, and those frames were handed over.
    void settle() {
        service_->waitUntilIdle();
        frameQueue_->sync([] {});
    }
    // Moves the service's clock; pacing timers that come due hand their work to the service.
    void advance(Duration duration) {
        runtime_->advanceBy(duration);
        settle();
    }

    static XSession* session_;
    static std::string skipReason_;

    std::shared_ptr<ManualDispatchRuntime> runtime_ = ManualDispatchRuntime::make();
    std::shared_ptr<RunLoop> loop_ = std::make_shared<RunLoop>();
    std::shared_ptr<DispatchRuntime> delivery_ = DispatchRuntime::makeThreaded(loop_);
    std::shared_ptr<DispatchQueue> frameQueue_ = delivery_->makeSerialQueue("frames");
    FrameDelivery frameDelivery_ = FrameDelivery::clientPixels;
    std::shared_ptr<X11CaptureService> service_;
    std::vector<Painter> painters_;
};

XSession* X11CaptureServiceTest::session_ = nullptr;
std::string X11CaptureServiceTest::skipReason_;

TEST_F(X11CaptureServiceTest, FramesShowTheWindowFrameWithTheClientsPixelsAsTheyChange) {
    Painter painter = startPainter(0xff0000);
    Capture capture = makeCapture(painter);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(capture.frames->waitForColour(0xff0000));

    const auto [width, height] = frameSize(painter.window);
    const auto first = capture.frames->frames().back();
    EXPECT_EQ(first.width, width);  // the frame, decorations included
    EXPECT_EQ(first.height, height);
    EXPECT_GT(first.height, 160u);

    for (const std::uint32_t colour : {0x00ff00u, 0x0000ffu, 0x123456u}) {
        ASSERT_TRUE(paint(painter, colour));
        EXPECT_TRUE(capture.frames->waitForColour(colour)) << std::hex << colour;
    }
    EXPECT_FALSE(capture.frames->overlapped());
    EXPECT_EQ(stop(*capture.stream), std::nullopt);
}

TEST_F(X11CaptureServiceTest, CoveredWindowIsStillCaptured) {
    Painter covered = startPainter(0x204060, "300x200", "100,100");
    startPainter(0xffffff, "400x300", "50,50");  // mapped last, so on top
    Capture capture = makeCapture(covered);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(paint(covered, 0x00aa00));
    EXPECT_TRUE(capture.frames->waitForColour(0x00aa00));
    settle();
    for (const auto& frame : capture.frames->frames()) {
        EXPECT_NE(frame.colour, 0xffffffu) << "the covering window leaked into the capture";
    }
}

TEST_F(X11CaptureServiceTest, ResizeGivesFramesOfTheNewSizeOnceReconfigured) {
    Painter painter = startPainter(0x884422, "240x160");
    const auto [width, height] = frameSize(painter.window);
    SCStreamConfiguration configuration;
    configuration.width = width;
    configuration.height = height;
    Capture capture = makeCapture(painter, configuration);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(capture.frames->waitForColour(0x884422));

    ASSERT_EQ(session_->run({"xdotool", "windowsize", std::to_string(painter.window), "400", "300"})
                  .exitCode,
              0);
    ASSERT_TRUE(
        session_->waitUntil([&] { return frameSize(painter.window).first != width; }, kGuard));
    const auto [newWidth, newHeight] = frameSize(painter.window);
    ASSERT_TRUE(paint(painter, 0x113355));
    ASSERT_TRUE(capture.frames->waitForColour(0x113355));
    // Before reconfiguration the larger window is scaled into the configured size.
    EXPECT_EQ(capture.frames->frames().back().width, width);
    EXPECT_EQ(capture.frames->frames().back().height, height);

    configuration.width = newWidth;
    configuration.height = newHeight;
    Completions update;
    capture.stream->updateConfiguration(configuration, update.callback());
    EXPECT_EQ(update.wait(), std::nullopt);
    settle();
    const auto last = capture.frames->frames().back();
    EXPECT_EQ(last.width, newWidth);
    EXPECT_EQ(last.height, newHeight);
    EXPECT_EQ(last.colour, 0x113355u);
}

TEST_F(X11CaptureServiceTest, NoFramesWhileTheWindowDoesNotChange) {
    Painter painter = startPainter(0x445566);
    Capture capture = makeCapture(painter);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(capture.frames->waitForColour(0x445566));
    // The window manager redraws a new window's decoration when it focuses it; those are real
    // changes. Let that happen, then wait until a whole second passes without any.
    ASSERT_TRUE(session_->waitUntil([&] { return activeWindow() == painter.window; }, kGuard));
    std::size_t before = 0;
    for (int round = 0; round < 10; ++round) {
        settle();
        before = capture.frames->count();
        advance(seconds(1));
        settle();
        if (capture.frames->count() == before) {
            break;
        }
    }

    advance(seconds(10));
    EXPECT_EQ(capture.frames->count(), before);

    // A change is shown (a client that draws it in several steps may give several frames).
    ASSERT_TRUE(paint(painter, 0x665544));
    settle();
    EXPECT_GE(capture.frames->count(), before + 1);
    EXPECT_EQ(capture.frames->frames().back().colour, 0x665544u);
}

TEST_F(X11CaptureServiceTest, PacingKeepsFramesAtLeastTheMinimumIntervalApart) {
    Painter painter = startPainter(0x010101);
    SCStreamConfiguration configuration;
    configuration.minimumFrameInterval = seconds(1);
    Capture capture = makeCapture(painter, configuration);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    settle();
    ASSERT_EQ(capture.frames->count(), 1u);

    // Changes within the interval wait for its end and make one frame of the latest picture.
    ASSERT_TRUE(paint(painter, 0x020202));
    ASSERT_TRUE(paint(painter, 0x030303));
    settle();
    EXPECT_EQ(capture.frames->count(), 1u);
    advance(milliseconds(999));
    EXPECT_EQ(capture.frames->count(), 1u);
    advance(milliseconds(1));
    ASSERT_EQ(capture.frames->count(), 2u);
    EXPECT_EQ(capture.frames->frames().back().colour, 0x030303u);

    // After a quiet stretch a change is shown at once.
    advance(seconds(5));
    ASSERT_TRUE(paint(painter, 0x040404));
    settle();
    ASSERT_EQ(capture.frames->count(), 3u);
    const auto frames = capture.frames->frames();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_GE(frames[i].timestamp - frames[i - 1].timestamp, seconds(1));
    }
}

TEST_F(X11CaptureServiceTest, OnTheSystemClockTheServiceThreadPacesFramesItself) {
    // The program's own runtime: pacing waits are the service thread's, in real time.
    auto realTime = DispatchRuntime::makeThreaded(loop_);
    Error error;
    auto service = X11CaptureService::create(session_->displayName(), realTime, &error);
    ASSERT_TRUE(service) << error.description;
    Painter painter = startPainter(0x0c0c0c);
    SCStreamConfiguration configuration;
    configuration.minimumFrameInterval = milliseconds(100);
    auto frames = std::make_shared<FrameRecorder>();
    auto stream = service->makeStream(SCContentFilter{painter.window}, configuration, {});
    ASSERT_EQ(stream->addStreamOutput(frames, frameQueue_), std::nullopt);
    ASSERT_EQ(start(*stream), std::nullopt);
    ASSERT_TRUE(frames->waitForColour(0x0c0c0c));

    // Changes in quick succession: the last one still arrives (a paced frame fired) and no two
    // frames are closer than the interval.
    for (std::uint32_t colour = 0x0d0d0d; colour <= 0x121212; colour += 0x010101) {
        ASSERT_TRUE(paint(painter, colour));
    }
    ASSERT_TRUE(frames->waitForColour(0x121212));
    const auto seen = frames->frames();
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].timestamp - seen[i - 1].timestamp, milliseconds(100));
    }
    EXPECT_EQ(stop(*stream), std::nullopt);
}

TEST_F(X11CaptureServiceTest, DestroyedWindowStopsTheStreamOnceWithAnErrorAndNoFurtherFrame) {
    Painter painter = startPainter(0x0a0b0c);
    Capture capture = makeCapture(painter);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(capture.frames->waitForColour(0x0a0b0c));

    session_->terminate(painter.pid);
    ASSERT_TRUE(capture.delegate->waitForError());
    settle();
    const std::size_t frames = capture.frames->count();
    advance(seconds(5));
    const auto errors = capture.delegate->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors.front().domain, kSCStreamErrorDomain);
    EXPECT_EQ(errors.front().code, kCaptureErrorNoCaptureSource);
    EXPECT_EQ(capture.frames->count(), frames);
    EXPECT_FALSE(capture.stream->isRunning());
    // The stream ended by itself: a stop finds nothing running.
    const auto stopped = stop(*capture.stream);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->code, kSCStreamErrorAttemptToStopStreamState);
}

TEST_F(X11CaptureServiceTest, WithdrawnWindowStopsTheStreamButAMinimisedOneWaits) {
    Painter minimised = startPainter(0x303030);
    Painter withdrawn = startPainter(0x505050);
    Capture waiting = makeCapture(minimised);
    Capture ending = makeCapture(withdrawn);
    ASSERT_EQ(start(*waiting.stream), std::nullopt);
    ASSERT_EQ(start(*ending.stream), std::nullopt);

    ASSERT_EQ(
        session_->run({"xdotool", "windowminimize", std::to_string(minimised.window)}).exitCode, 0);
    ASSERT_TRUE(send(withdrawn, "withdraw"));
    ASSERT_TRUE(ending.delegate->waitForError());
    settle();
    EXPECT_EQ(ending.delegate->errors().size(), 1u);

    // Hidden: no frames of what it draws meanwhile, and no error; shown again: frames resume.
    const std::size_t before = waiting.frames->count();
    ASSERT_TRUE(paint(minimised, 0x707070));
    settle();
    EXPECT_EQ(waiting.frames->count(), before);
    ASSERT_EQ(session_->run({"xdotool", "windowmap", std::to_string(minimised.window)}).exitCode,
              0);
    EXPECT_TRUE(waiting.frames->waitForColour(0x707070));
    EXPECT_TRUE(waiting.delegate->errors().empty());
    EXPECT_TRUE(waiting.stream->isRunning());
}

TEST_F(X11CaptureServiceTest, RemovedOutputGetsNoMoreFrames) {
    Painter painter = startPainter(0x111111);
    Capture capture = makeCapture(painter);
    auto second = std::make_shared<FrameRecorder>();
    ASSERT_EQ(capture.stream->addStreamOutput(second, frameQueue_), std::nullopt);
    const auto duplicate = capture.stream->addStreamOutput(second, frameQueue_);
    ASSERT_TRUE(duplicate);
    EXPECT_EQ(duplicate->code, kCaptureErrorInvalidParameter);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(paint(painter, 0x222222));
    settle();
    EXPECT_EQ(second->frames().back().colour, 0x222222u);

    ASSERT_EQ(capture.stream->removeStreamOutput(second), std::nullopt);
    const std::size_t removedAt = second->count();
    ASSERT_TRUE(paint(painter, 0x333333));
    settle();
    EXPECT_EQ(capture.frames->frames().back().colour, 0x333333u);
    EXPECT_EQ(second->count(), removedAt);
    EXPECT_TRUE(capture.stream->removeStreamOutput(second));
}

TEST_F(X11CaptureServiceTest, StartsAndStopsCompleteExactlyOnce) {
    Painter painter = startPainter(0x999999);
    Capture capture = makeCapture(painter);
    Completions first;
    Completions second;
    capture.stream->startCapture(first.callback());
    capture.stream->startCapture(second.callback());
    EXPECT_EQ(first.wait(), std::nullopt);
    const auto again = second.wait();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, kCaptureErrorAttemptToStartStreamState);

    Completions stopFirst;
    Completions stopSecond;
    capture.stream->stopCapture(stopFirst.callback());
    capture.stream->stopCapture(stopSecond.callback());
    EXPECT_EQ(stopFirst.wait(), std::nullopt);
    const auto notRunning = stopSecond.wait();
    ASSERT_TRUE(notRunning);
    EXPECT_EQ(notRunning->code, kSCStreamErrorAttemptToStopStreamState);

    // A stopped stream starts again.
    EXPECT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(paint(painter, 0x121212));
    EXPECT_TRUE(capture.frames->waitForColour(0x121212));

    // A window that does not exist fails the start.
    auto missing = service_->makeStream(SCContentFilter{0x7fffff}, {}, {});
    const auto failed = start(*missing);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->code, kCaptureErrorNoCaptureSource);

    // Ending the service ends the running stream once; later calls still complete once.
    service_.reset();
    EXPECT_EQ(capture.delegate->errors().size(), 1u);
    Completions late;
    capture.stream->startCapture(late.callback());
    EXPECT_TRUE(late.wait());
    EXPECT_EQ(
        first.count() + second.count() + stopFirst.count() + stopSecond.count() + late.count(), 5u);
}

TEST_F(X11CaptureServiceTest, AtMostThreeBuffersExistAndTheyAreReused) {
    Painter painter = startPainter(0x000001);
    Capture capture = makeCapture(painter);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    for (std::uint32_t colour = 2; colour < 30; ++colour) {
        ASSERT_TRUE(paint(painter, colour));
        settle();
    }
    EXPECT_GE(capture.frames->count(), 29u);
    EXPECT_LE(capture.stream->createdFrameBufferCount(), 3);

    // A consumer that holds every frame gets three, then none until it lets one go.
    capture.frames->keepFrames(true);
    for (std::uint32_t colour = 100; colour < 106; ++colour) {
        ASSERT_TRUE(paint(painter, colour));
        settle();
    }
    EXPECT_LE(capture.stream->peakFrameBufferCount(), 3);
    const std::size_t starved = capture.frames->count();
    capture.frames->keepFrames(false);
    capture.frames->releaseFrames();
    settle();
    ASSERT_EQ(capture.frames->count(), starved + 1);
    EXPECT_EQ(capture.frames->frames().back().colour, 105u);
    EXPECT_LE(capture.stream->peakFrameBufferCount(), 3);
}

// Frames that stay on the server: the window's own picture at its own size, read only on demand.
class X11SurfaceCaptureTest : public X11CaptureServiceTest {
  protected:
    X11SurfaceCaptureTest() { frameDelivery_ = FrameDelivery::serverSurfaces; }

    // The frame's pixmap read afresh, as a compositor drawing it now would see it.
    static std::uint32_t colourNow(const SurfaceFrame& frame) {
        return centreColour(SurfaceFrame(frame.pixmap(), frame.timestamp()));
    }
};

TEST_F(X11SurfaceCaptureTest, FramesAreTheWindowsPictureOnTheServerAndOutliveResizeAndDeath) {
    Painter painter = startPainter(0x336699, "240x160");
    const auto [width, height] = frameSize(painter.window);
    SCStreamConfiguration configuration;
    configuration.width = width / 2;  // the server scales when it draws: frames keep their size
    configuration.height = height / 2;
    Capture capture = makeCapture(painter, configuration);
    capture.frames->keepFrames(true);
    ASSERT_EQ(start(*capture.stream), std::nullopt);
    ASSERT_TRUE(capture.frames->waitForColour(0x336699));
    ASSERT_TRUE(paint(painter, 0x00cc00));
    ASSERT_TRUE(capture.frames->waitForColour(0x00cc00));
    settle();
    EXPECT_EQ(capture.frames->frames().back().width, width);
    EXPECT_EQ(capture.frames->frames().back().height, height);
    EXPECT_EQ(capture.stream->createdFrameBufferCount(), 0);

    // Keep a frame from before the resize: its pixmap stays readable at the old size.
    capture.frames->keepFrames(false);
    auto kept = std::dynamic_pointer_cast<const SurfaceFrame>(capture.frames->lastKept());
    ASSERT_TRUE(kept);
    capture.frames->releaseFrames();
    EXPECT_EQ(colourNow(*kept), 0x00cc00u);

    ASSERT_EQ(session_->run({"xdotool", "windowsize", std::to_string(painter.window), "360", "240"})
                  .exitCode,
              0);
    ASSERT_TRUE(
        session_->waitUntil([&] { return frameSize(painter.window).first != width; }, kGuard));
    ASSERT_TRUE(paint(painter, 0xaa0000));
    ASSERT_TRUE(capture.frames->waitForColour(0xaa0000));
    EXPECT_EQ(capture.frames->frames().back().width, frameSize(painter.window).first);
    EXPECT_EQ(kept->width(), width);
    EXPECT_EQ(colourNow(*kept), 0x00cc00u) << "the old picture was renamed away under its frame";

    // The window goes: the stream ends once, and what a consumer still holds stays valid.
    session_->terminate(painter.pid);
    ASSERT_TRUE(capture.delegate->waitForError());
    settle();
    EXPECT_EQ(capture.delegate->errors().size(), 1u);
    EXPECT_EQ(colourNow(*kept), 0x00cc00u);
    service_.reset();
    EXPECT_EQ(colourNow(*kept), 0x00cc00u);
}

TEST_F(X11CaptureServiceTest, ShareableContentListsDisplaysAndTheClientWindows) {
    Painter painter = startPainter(0x0f0f0f, "200x120", "300,200");
    std::promise<ShareableContentResult> answer;
    service_->getShareableContent(true, true,
                                  [&](ShareableContentResult result) { answer.set_value(result); });
    auto future = answer.get_future();
    ASSERT_EQ(future.wait_for(kGuard), std::future_status::ready);
    const auto result = future.get();
    ASSERT_TRUE(std::holds_alternative<SCShareableContent>(result));
    const auto& content = std::get<SCShareableContent>(result);
    ASSERT_FALSE(content.displays.empty());
    EXPECT_EQ(content.displays.front().frame, Rect(0, 0, 1920, 1080));
    const auto window =
        std::find_if(content.windows.begin(), content.windows.end(),
                     [&](const SCWindow& w) { return w.windowID == painter.window; });
    ASSERT_NE(window, content.windows.end());
    EXPECT_EQ(window->title, "painter");
    EXPECT_TRUE(window->isOnScreen);
    ASSERT_TRUE(window->owningApplication);
    EXPECT_EQ(window->owningApplication->processID, painter.pid);
    EXPECT_EQ(window->owningApplication->applicationName, "TovaloPaintClient");
    const auto [width, height] = frameSize(painter.window);
    EXPECT_EQ(window->frame.size, (Size{static_cast<double>(width), static_cast<double>(height)}));
    EXPECT_EQ(content.windows.front().windowID, painter.window) << "front to back";
    EXPECT_TRUE(service_->preflightScreenCaptureAccess());
}

}  // namespace
}  // namespace tovalo::x11
