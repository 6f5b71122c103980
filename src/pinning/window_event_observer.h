#pragma once

// Watches one source window (the window behind a pinned overlay) and tells its owner when the
// window moves, is resized, minimised or restored, enters or leaves full screen, or goes away.
// Two sources feed it: accessibility notifications, which are immediate but need the user's
// permission and a matching element, and a polling timer over the window server's list whose
// interval adapts to how often the window changes (PollingIntervalPolicy). The owner's
// application quitting also ends the watch.
//
// Each overlay owns exactly one observer for its source window and is its only client. Made by
// create(); everything runs on the main thread. Every callback runs on the main queue in a later
// turn, never inside startObserving or a platform callback; deferred work holds the observer
// weakly and does nothing once it is gone. Closure is reported once per observation.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/dispatch_runtime.h"
#include "base/geometry.h"
#include "base/notification_center.h"
#include "base/published.h"
#include "base/repeating_timer.h"
#include "capture/capture_types.h"
#include "capture/window_server_info.h"
#include "pinning/accessibility_service.h"
#include "pinning/polling_interval_policy.h"

namespace tovalo {

class WindowEventObserver : public std::enable_shared_from_this<WindowEventObserver> {
  public:
    using FrameCallback = std::function<void(const Rect& frame)>;
    using EventCallback = std::function<void()>;
    using FullScreenCallback = std::function<void(bool isFullScreen)>;

    // All required.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        std::shared_ptr<AccessibilityService> accessibility;
        // Bounds and owner of the source window.
        std::shared_ptr<WindowServerInfo> windowServerInfo;
        // Carries "didTerminateApplication".
        std::shared_ptr<NotificationCenter> workspaceCenter;
    };

    // Nothing starts until startObserving.
    static std::shared_ptr<WindowEventObserver> create(WindowID windowID,
                                                       Dependencies dependencies);

    // Stops observing without announcing anything: nobody can read the observer any more.
    ~WindowEventObserver();
    WindowEventObserver(const WindowEventObserver&) = delete;
    WindowEventObserver& operator=(const WindowEventObserver&) = delete;

    // Assigned by the owner before startObserving. Frames are window-server rectangles.
    void setOnWindowMoved(FrameCallback callback) {
        callbacks_.onWindowMoved = std::move(callback);
    }
    void setOnWindowResized(FrameCallback callback) {
        callbacks_.onWindowResized = std::move(callback);
    }
    void setOnWindowClosed(EventCallback callback) {
        callbacks_.onWindowClosed = std::move(callback);
    }
    void setOnMinimized(EventCallback callback) { callbacks_.onMinimized = std::move(callback); }
    void setOnRestored(EventCallback callback) { callbacks_.onRestored = std::move(callback); }
    void setOnFullScreenStateChanged(FullScreenCallback callback) {
        callbacks_.onFullScreenStateChanged = std::move(callback);
    }

    // Begins watching; does nothing when already observing or when the process is not trusted
    // for accessibility (then nothing is observed and nothing polls).
    void startObserving();
    // Stops every source of events; does nothing unless observing. The last frame, the owner's
    // process ID, the quiet streak and the full-screen state are kept.
    void stopObserving();

    WindowID windowID() const { return windowID_; }
    // The last known frame of the source window; the zero rectangle until first read.
    Published<Rect>& currentFrame() { return currentFrame_; }
    Published<bool>& isObserving() { return isObserving_; }

    // For diagnostics and tests.
    double currentPollingInterval() const { return polling_.currentPollingInterval(); }
    int noChangeStreak() const { return polling_.noChangeStreak(); }
    bool isPollingPaused() const { return pollingPaused_; }
    bool hasAXWindow() const { return static_cast<bool>(axWindow_); }
    bool hasAXObserver() const { return static_cast<bool>(axObserver_); }
    ProcessID ownerPID() const { return ownerPID_; }
    std::optional<bool> lastKnownFullScreenState() const { return lastKnownFullScreenState_; }

  private:
    struct Callbacks {
        FrameCallback onWindowMoved;
        FrameCallback onWindowResized;
        EventCallback onWindowClosed;
        EventCallback onMinimized;
        EventCallback onRestored;
        FullScreenCallback onFullScreenStateChanged;
    };
    enum class FrameAspect { origin, size };

    WindowEventObserver(WindowID windowID, Dependencies dependencies);

    AXUIElementRef findAXWindow() const;
    bool readCurrentFrame();
    void startTerminationWatch();
    void handleTermination(const Notification& notification);
    void handleAXNotification(const std::string& name);
    void handleFrameNotification(FrameAspect aspect);
    void handleMiniaturized();
    void handleDeminiaturized();
    void startPolling(double interval);
    void pollTick();
    void checkFullScreen(bool force);
    void closeAndNotify();
    void tearDown();

    // Runs `call` with this observer's callbacks in a later turn of the main queue, if the
    // observer still exists then.
    void notifyLater(std::function<void(const Callbacks&, WindowEventObserver&)> call);

    const WindowID windowID_;
    const std::shared_ptr<DispatchRuntime> runtime_;
    const std::shared_ptr<AccessibilityService> accessibility_;
    const std::shared_ptr<WindowServerInfo> windowServerInfo_;
    const std::shared_ptr<NotificationCenter> workspaceCenter_;

    AXUIElementRef axWindow_;
    std::unique_ptr<AXObserver> axObserver_;
    std::unique_ptr<RepeatingTimer> pollingTimer_;
    ObserverToken workspaceObserver_;
    ProcessID ownerPID_ = 0;
    PollingIntervalPolicy polling_;
    bool pollingPaused_ = false;
    // Counts observations, so notifications queued during one are dropped after it ended.
    std::uint64_t observation_ = 0;
    Callbacks callbacks_;
    Published<Rect> currentFrame_;
    Published<bool> isObserving_{false};
    std::optional<bool> lastKnownFullScreenState_;
};

}  // namespace tovalo
