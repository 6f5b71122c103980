#include "capture/window_stream_controller.h"

#include <algorithm>
#include <utility>

#include "base/debug_log.h"

namespace tovalo {
namespace {

constexpr const char* kLogTag = "Stream";
constexpr Duration kBaseRestartDelay = milliseconds(80);
constexpr Duration kMaxRestartDelay = milliseconds(5000);

bool hasImage(const VideoFrame& frame) {
    return frame.data() != nullptr && frame.width() > 0 && frame.height() > 0;
}

}  // namespace

std::shared_ptr<WindowStreamController> WindowStreamController::create(Dependencies dependencies) {
    return std::shared_ptr<WindowStreamController>(
        new WindowStreamController(std::move(dependencies)));
}

WindowStreamController::WindowStreamController(Dependencies dependencies)
    : runtime_(std::move(dependencies.runtime)),
      captureService_(std::move(dependencies.captureService)),
      errorReporter_(std::move(dependencies.errorReporter)),
      diagnostics_(std::move(dependencies.diagnostics)),
      registry_(std::move(dependencies.registry)),
      contextProvider_(std::move(dependencies.contextProvider)),
      workspace_(std::move(dependencies.workspace)),
      pinnedWindows_(std::move(dependencies.pinnedWindows)),
      presenter_(VideoLayerPresenter::create(runtime_,
                                             dependencies.videoLayerFactory->makeVideoLayer())) {}

WindowStreamController::~WindowStreamController() {
    if (pendingRestart_) {
        pendingRestart_->cancel();
    }
    if (streamHandler_) {
        // Nobody is left to show the frames; end the session rather than leave it running.
        streamHandler_->stopCapture();
    }
    if (registeredWindowID_) {
        registry_->unregisterIfGone(*registeredWindowID_);
    }
}

Duration WindowStreamController::restartDelay(int attempt) {
    const int exponent = std::min(std::max(attempt, 1), restartBackoffCap);
    return std::min(kBaseRestartDelay * (1 << (exponent - 1)), kMaxRestartDelay);
}

void WindowStreamController::setOnFirstFrame(std::function<void()> callback) {
    onFirstFrame_ = std::move(callback);
}

void WindowStreamController::startCapture(const SCWindow& window, const SCDisplay& display,
                                          double width, double height, double scale) {
    startCapture(window, display, false, width, height, scale);
}

void WindowStreamController::startCapture(const SCWindow& window, const SCDisplay& display,
                                          bool isRetry, double width, double height, double scale) {
    const WindowID windowID = window.windowID;
    if (streamHandler_) {
        TOVALO_DEBUG_LOG(kLogTag, "startCapture skipped - handler already active",
                         {{"window_id", windowID}});
        return;
    }
    TOVALO_DEBUG_LOG(
        kLogTag, "startCapture invoked",
        {{"window_id", windowID}, {"width", width}, {"height", height}, {"scale", scale}});

    if (registeredWindowID_ && *registeredWindowID_ != windowID) {
        TOVALO_DEBUG_LOG(kLogTag, "releasing stale registration",
                         {{"previous_window_id", *registeredWindowID_}});
        registry_->unregisterController(*registeredWindowID_, this);
        registeredWindowID_.reset();
    }

    if (!registry_->registerController(windowID, shared_from_this())) {
        const auto directory = pinnedWindows_.lock();
        const bool hasLiveOverlay = directory && directory->isPinned(windowID);
        TOVALO_DEBUG_LOG(kLogTag, "Capture start skipped: duplicate session detected",
                         {{"window_id", windowID}, {"has_live_overlay", hasLiveOverlay}});
        if (hasLiveOverlay || isRetry) {
            hasError_.set(true);
            return;
        }
        TOVALO_DEBUG_LOG(kLogTag, "forcing release of stale session", {{"window_id", windowID}});
        std::weak_ptr<WindowStreamController> weak = weak_from_this();
        releaseStaleSession(
            windowID, [weak, runtime = runtime_, window, display, width, height, scale] {
                runtime->mainQueue()->async([weak, window, display, width, height, scale] {
                    if (auto self = weak.lock()) {
                        self->startCapture(window, display, true, width, height, scale);
                    }
                });
            });
        return;
    }

    TOVALO_DEBUG_LOG(kLogTag, "session registered", {{"window_id", windowID}});
    registeredWindowID_ = windowID;
    shouldAttemptAutoRestart_ = true;
    lastWindow_ = window;
    lastDisplay_ = display;
    lastSize_ = Size{width, height};
    lastScale_ = scale;

    auto handler = StreamSessionHandler::create(
        window, {runtime_, captureService_, errorReporter_, diagnostics_});
    auto session = std::make_shared<Session>();
    std::weak_ptr<WindowStreamController> weak = weak_from_this();
    handler->setOnFrameReceived([weak, session, window](const VideoFrameRef& frame) {
        if (auto self = weak.lock()) {
            self->handleFrame(frame, *session, window);
        }
    });
    std::weak_ptr<StreamSessionHandler> weakHandler = handler;
    handler->setOnStatusChange([weak, weakHandler, runtime = runtime_](bool capturing, bool error) {
        runtime->mainQueue()->async([weak, weakHandler, capturing, error] {
            if (auto self = weak.lock()) {
                self->handleStatus(weakHandler.lock(), capturing, error);
            }
        });
    });
    streamHandler_ = handler;
    handler->startCapture(width, height, scale);
    TOVALO_DEBUG_LOG(kLogTag, "handler started", {{"window_id", windowID}});
}

void WindowStreamController::releaseStaleSession(WindowID windowID,
                                                 std::function<void()> continuation) {
    auto stale = registry_->registeredController(windowID);
    if (!stale) {
        continuation();
        return;
    }
    if (runtime_->isMainThread()) {
        stale->stopCapture(continuation);
    } else {
        runtime_->mainQueue()->async(
            [stale, continuation = std::move(continuation)] { stale->stopCapture(continuation); });
    }
}

void WindowStreamController::stopCapture(const std::function<void()>& completion) {
#ifndef TOVALO_NO_DEBUG_LOG
    const std::optional<WindowID> loggedID =
        registeredWindowID_
            ? registeredWindowID_
            : (lastWindow_ ? std::optional<WindowID>(lastWindow_->windowID) : std::nullopt);
    if (loggedID) {
        TOVALO_DEBUG_LOG(kLogTag, "stopCapture requested", {{"window_id", *loggedID}});
    } else {
        TOVALO_DEBUG_LOG(kLogTag, "stopCapture requested");
    }
#endif
    shouldAttemptAutoRestart_ = false;
    // A restart waiting for its delay would otherwise bring a later session down again.
    if (pendingRestart_) {
        pendingRestart_->cancel();
        pendingRestart_.reset();
    }
    if (streamHandler_) {
        streamHandler_->stopCapture();
        streamHandler_.reset();
    }
    isCapturing_.set(false);
    restartAttempts_ = 0;
    if (registeredWindowID_) {
        registry_->unregisterController(*registeredWindowID_, this);
        registeredWindowID_.reset();
    }
    if (lastWindow_) {
        TOVALO_DEBUG_LOG(kLogTag, "stopCapture completed", {{"window_id", lastWindow_->windowID}});
    } else {
        TOVALO_DEBUG_LOG(kLogTag, "stopCapture completed");
    }
    if (completion) {
        completion();
    }
}

void WindowStreamController::handleFrame(const VideoFrameRef& frame, Session& session,
                                         const SCWindow& window) {
    if (!session.didEmitFirstFrame.exchange(true)) {
        storeFirstFrameSnapshot(frame, window);
        runtime_->mainQueue()->async([weak = weak_from_this()] {
            auto self = weak.lock();
            if (self && self->onFirstFrame_) {
                // Copied: the callback may replace itself.
                auto callback = self->onFirstFrame_;
                callback();
            }
        });
    }
    presenter_->enqueue(frame);
}

void WindowStreamController::storeFirstFrameSnapshot(const VideoFrameRef& frame,
                                                     const SCWindow& window) {
    if (!frame || !hasImage(*frame)) {
        return;
    }
    // The frame itself is the picture: immutable and shared, so nothing is copied. The
    // application lookup runs with the store on the main thread, where the workspace lives.
    runtime_->mainQueue()->async([weak = weak_from_this(), frame, window] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto directory = self->pinnedWindows_.lock();
        if (!directory) {
            return;
        }
        WindowSnapshotDetails snapshot;
        snapshot.id = window.windowID;
        snapshot.windowID = window.windowID;
        snapshot.title = window.title.value_or(kUntitledWindowTitle);
        snapshot.appName = kUnknownAppName;
        snapshot.image = frame;
        if (window.owningApplication) {
            const auto& bundleID = window.owningApplication->bundleIdentifier;
            snapshot.bundleIdentifier = bundleID;
            const auto running = self->workspace_->runningApplications(bundleID);
            if (!running.empty()) {
                snapshot.appName = running.front()->localizedName();
                snapshot.appIcon = running.front()->icon();
            }
        }
        directory->storeCachedSnapshot(window.windowID, std::move(snapshot));
    });
}

void WindowStreamController::handleStatus(const std::shared_ptr<StreamSessionHandler>& from,
                                          bool capturing, bool error) {
    // A session replaced or stopped since may still report; it no longer speaks for this
    // controller (a late stop would otherwise clear the flag of the session now running).
    if (!from || from != streamHandler_) {
        return;
    }
    isCapturing_.set(capturing);
    hasError_.set(error);
    if (capturing) {
        if (restartAttempts_ > 0) {
            TOVALO_DEBUG_LOG(
                "", "Capture restarted successfully",
                {{"window_id", from->targetWindow().windowID}, {"attempt", restartAttempts_}});
        }
        restartAttempts_ = 0;
    } else if (error) {
        scheduleRestart();
    }
}

void WindowStreamController::scheduleRestart() {
    if (!shouldAttemptAutoRestart_ || !registeredWindowID_ ||
        !registry_->isRegisteredOwner(*registeredWindowID_, this)) {
        stopCapture();
        return;
    }
    if (maxRestartAttempts_ && restartAttempts_ >= *maxRestartAttempts_) {
        TOVALO_DEBUG_LOG("", "Skipping capture restart - max attempts reached",
                         {{"window_id", *registeredWindowID_}, {"attempts", restartAttempts_}});
        shouldAttemptAutoRestart_ = false;
        return;
    }
    if (!lastWindow_ || !lastDisplay_ || !lastSize_) {
        stopCapture();
        return;
    }
    const WindowID windowID = lastWindow_->windowID;
    bool stillValid = lastWindow_->isOnScreen;
    if (stillValid) {
        if (const auto content = contextProvider_->currentContent()) {
            stillValid = std::any_of(content->windows.begin(), content->windows.end(),
                                     [&](const SCWindow& w) { return w.windowID == windowID; });
        }
    }
    if (!stillValid) {
        TOVALO_DEBUG_LOG("", "Skipping capture restart - window no longer valid",
                         {{"window_id", windowID}});
        shouldAttemptAutoRestart_ = false;
        stopCapture();
        return;
    }
    restartAttempts_ += 1;
    const Duration delay = restartDelay(restartAttempts_);
    TOVALO_DEBUG_LOG(
        "", "Scheduling capture restart",
        {{"window_id", windowID},
         {"attempt", restartAttempts_},
         {"delay_ms", std::chrono::duration_cast<std::chrono::milliseconds>(delay).count()}});
    if (pendingRestart_) {
        pendingRestart_->cancel();
    }
    pendingRestart_ = runtime_->mainQueue()->asyncAfter(delay, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->pendingRestart_.reset();
            self->performRestart();
        }
    });
}

void WindowStreamController::performRestart() {
    if (!shouldAttemptAutoRestart_ || !lastWindow_ || !lastDisplay_ || !lastSize_) {
        return;
    }
    if (streamHandler_) {
        streamHandler_->stopCapture();
        streamHandler_.reset();
    }
    presenter_->flushAndRemoveImage();
    const SCWindow window = *lastWindow_;
    const SCDisplay display = *lastDisplay_;
    const Size size = *lastSize_;
    startCapture(window, display, false, size.width, size.height, lastScale_);
}

}  // namespace tovalo
