#pragma once

// The live-capture engine behind one overlay. It runs at most one capture session at a time,
// shows its frames on a video layer, keeps a still picture of the first frame of each session
// for the pinned window manager, and restarts a failed session with exponential back-off for
// as long as the window still exists. Through the shared registry it makes sure only one
// controller captures a given window: a stale controller still holding the window is asked to
// stop once; a window that has a live overlay elsewhere ends in `hasError`.
//
// Owned by the pinned window manager's entry and the overlay. Everything runs on the main
// thread except the frame path, which runs on the session's sample queue. Deferred work holds
// the controller weakly and does nothing once it is gone.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "base/cancellation.h"
#include "base/dispatch_runtime.h"
#include "base/published.h"
#include "capture/capture_service.h"
#include "capture/capture_types.h"
#include "capture/pinned_window_directory.h"
#include "capture/stream_session_handler.h"
#include "capture/stream_stop_diagnostics.h"
#include "capture/video_layer.h"
#include "capture/video_layer_presenter.h"
#include "capture/window_capture_context_provider.h"
#include "capture/window_stream_controlling.h"
#include "capture/window_stream_registry.h"
#include "platform/workspace.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class WindowStreamController final : public WindowStreamControlling,
                                     public std::enable_shared_from_this<WindowStreamController> {
  public:
    // All required except `diagnostics` and `pinnedWindows`.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        std::shared_ptr<CaptureService> captureService;
        std::shared_ptr<ErrorReporter> errorReporter;
        StreamStopDiagnosticsSources diagnostics;
        std::shared_ptr<WindowStreamRegistry> registry;
        // Its cached content tells whether a failed window still exists.
        std::shared_ptr<WindowCaptureContextProvider> contextProvider;
        // Name and icon of the window's application for the first-frame picture.
        std::shared_ptr<Workspace> workspace;
        std::weak_ptr<PinnedWindowDirectory> pinnedWindows;
        std::shared_ptr<VideoLayerFactory> videoLayerFactory;
    };

    // The largest exponent of the restart back-off: 80 ms × 2^(n−1), capped at 5 s.
    static constexpr int restartBackoffCap = 7;

    static std::shared_ptr<WindowStreamController> create(Dependencies dependencies);
    ~WindowStreamController() override;
    WindowStreamController(const WindowStreamController&) = delete;
    WindowStreamController& operator=(const WindowStreamController&) = delete;

    void startCapture(const SCWindow& window, const SCDisplay& display, double width, double height,
                      double scale) override;
    // `isRetry` is true only for the controller's own second attempt after releasing a stale
    // session; a collision then is final.
    void startCapture(const SCWindow& window, const SCDisplay& display, bool isRetry, double width,
                      double height, double scale);
    void stopCapture() override { stopCapture(nullptr); }
    // `completion` runs synchronously at the end.
    void stopCapture(const std::function<void()>& completion);

    void setOnFirstFrame(std::function<void()> callback) override;
    Published<bool>& isCapturing() override { return isCapturing_; }
    Published<bool>& hasError() override { return hasError_; }
    std::shared_ptr<VideoLayer> videoLayer() const override { return presenter_->videoLayer(); }

    // No limit unless set; a limit stops restarting once that many attempts failed.
    void setMaxRestartAttempts(std::optional<int> limit) { maxRestartAttempts_ = limit; }
    int restartAttempts() const { return restartAttempts_; }
    bool isActive() const { return streamHandler_ != nullptr; }
    std::optional<WindowID> registeredWindowID() const { return registeredWindowID_; }

    // The restart delay of attempt `attempt` (1-based).
    static Duration restartDelay(int attempt);

  private:
    // One per session: its first-frame flag is written on the sample queue while a later
    // session may already have started, so it is never shared between sessions.
    struct Session {
        std::atomic<bool> didEmitFirstFrame{false};
    };

    explicit WindowStreamController(Dependencies dependencies);

    void releaseStaleSession(WindowID windowID, std::function<void()> continuation);
    void handleFrame(const VideoFrameRef& frame, Session& session, const SCWindow& window);
    void storeFirstFrameSnapshot(const VideoFrameRef& frame, const SCWindow& window);
    void handleStatus(const std::shared_ptr<StreamSessionHandler>& from, bool capturing,
                      bool error);
    void scheduleRestart();
    void performRestart();

    const std::shared_ptr<DispatchRuntime> runtime_;
    const std::shared_ptr<CaptureService> captureService_;
    const std::shared_ptr<ErrorReporter> errorReporter_;
    const StreamStopDiagnosticsSources diagnostics_;
    const std::shared_ptr<WindowStreamRegistry> registry_;
    const std::shared_ptr<WindowCaptureContextProvider> contextProvider_;
    const std::shared_ptr<Workspace> workspace_;
    const std::weak_ptr<PinnedWindowDirectory> pinnedWindows_;
    const std::shared_ptr<VideoLayerPresenter> presenter_;

    Published<bool> isCapturing_{false};
    Published<bool> hasError_{false};

    // Main thread only.
    std::shared_ptr<StreamSessionHandler> streamHandler_;
    std::function<void()> onFirstFrame_;
    std::optional<SCWindow> lastWindow_;
    std::optional<SCDisplay> lastDisplay_;
    std::optional<Size> lastSize_;
    double lastScale_ = 1.0;
    int restartAttempts_ = 0;
    std::optional<int> maxRestartAttempts_;
    std::optional<WindowID> registeredWindowID_;
    bool shouldAttemptAutoRestart_ = false;
    std::optional<TaskHandle> pendingRestart_;
};

}  // namespace tovalo
