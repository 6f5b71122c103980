#pragma once

// The content of one overlay panel, as a view model: it keeps the panel exactly over its source
// window, hides it while the source is minimised, on another desktop or while the program asks
// overlays to suspend, unpins the window when the source goes full screen or closes, starts and
// stops capture at the right moments, owns the overlay's opacity and settings (reported to the
// pinned window manager), and hands the pointer over to the source window by its activation mode.
// The backend draws it: the video at `presentedOpacity`, the controls at `controlAlpha`, the
// accessibility card while `showsAccessibilityCard`; it reports the pointer entering and leaving
// (`handlePointerHover`), taps, the controls' hover and the menu's visibility.
//
// Built by PinnedOverlayViewFactory for the pinned window manager and owned by the panel that
// shows it. It comes alive when the panel shows it (contentDidAppear) and is inert for good once
// it disappears: deferred work and late callbacks hold it weakly and then do nothing. Main thread
// only; delays run on the runtime's clock.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/cancellation.h"
#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "base/published.h"
#include "base/subscription.h"
#include "base/uuid.h"
#include "capture/app_activator.h"
#include "capture/capture_types.h"
#include "capture/pinned_window_directory.h"
#include "capture/window_capture_context_provider.h"
#include "capture/window_server_info.h"
#include "capture/window_stream_controlling.h"
#include "pinning/accessibility_service.h"
#include "pinning/overlay_content_factory.h"
#include "pinning/overlay_interaction_state.h"
#include "pinning/pinned_overlay_state.h"
#include "pinning/window_event_observer.h"
#include "platform/application.h"
#include "platform/platform_window.h"
#include "platform/screens.h"
#include "platform/workspace.h"
#include "prefs/app_language.h"

namespace tovalo {

class PinnedOverlayView final : public WindowContent,
                                public std::enable_shared_from_this<PinnedOverlayView> {
  public:
    // What this overlay shows and whom it tells.
    struct Inputs {
        SCWindow window;
        SCDisplay display;
        // Owned by the pinned window entry; required.
        std::shared_ptr<WindowStreamControlling> streamController;
        // Seeds the settings; absent: the global preferences.
        std::optional<PinnedOverlayState> initialOverlayState;
        OverlayContentFactory::StateChangedCallback onOverlayStateChange;
        // Unpins the window (source closed or full screen, close button, auto-unpin).
        OverlayContentFactory::SourceClosedCallback onWindowClosed;
        AppLanguage locale = AppLanguage::system;
        // Whether the window is still pinned; held weakly.
        std::weak_ptr<PinnedWindowDirectory> pinnedWindows;
    };

    // All required.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        // "overlayOpacity", "overlayActivationMode", "overlayButtonPosition".
        std::shared_ptr<PreferencesStore> preferences;
        // Suspend and resume requests, this program becoming active.
        std::shared_ptr<NotificationCenter> defaultCenter;
        // Desktop switches; the source owner quitting.
        std::shared_ptr<NotificationCenter> workspaceCenter;
        std::shared_ptr<Screens> screens;
        // Activated when revealing; the pointer and the mouse buttons.
        std::shared_ptr<Application> application;
        // The source's application, activated when revealing.
        std::shared_ptr<Workspace> workspace;
        std::shared_ptr<AccessibilityService> accessibility;
        std::shared_ptr<WindowServerInfo> windowServerInfo;
        // Raises the source window.
        std::shared_ptr<AppActivator> appActivator;
        // Tells which windows are on the active desktop.
        std::shared_ptr<WindowCaptureContextProvider> contextProvider;
    };

    static constexpr Duration kHostConfigurationDelay = seconds(0.05);
    static constexpr Duration kFrameSettleDelay = seconds(0.2);
    static constexpr Duration kActiveSpaceRecheckDelay = seconds(0.25);
    static constexpr int kActiveSpaceRechecks = 2;
    static constexpr Duration kFadeInDuration = seconds(0.12);
    static constexpr Duration kRevealStepDuration = seconds(0.08);
    static constexpr Duration kRevealFadeOutDuration = seconds(0.1);
    static constexpr Duration kErrorFadeOutDuration = seconds(0.08);
    // Below this the copy counts as not fully shown, so a reveal first brings it up.
    static constexpr double kFullyOpaque = 0.999;
    // The opacity an overlay that never takes the pointer starts with.
    static constexpr double kPassThroughOpacity = 0.7;

    // Reads the preferences and seeds the settings; starts nothing.
    static std::shared_ptr<PinnedOverlayView> create(Inputs inputs, Dependencies dependencies);
    ~PinnedOverlayView() override;
    PinnedOverlayView(const PinnedOverlayView&) = delete;
    PinnedOverlayView& operator=(const PinnedOverlayView&) = delete;

    // ---- Shown by a panel ----
    // First appearance: starts watching the source, learns the active desktop, binds to `host`
    // in a later turn and places it over the source 0.05 s later. Once only.
    void contentDidAppear(const std::shared_ptr<PlatformWindow>& host) override;
    // Stops watching and capturing; the view is inert from now on.
    void contentDidDisappear() override;

    // ---- Pointer and controls, as the backend reports them ----
    void handlePointerHover(bool isInside);
    // A click on the overlay; only click mode reacts.
    void handleTap();
    // The pointer entered or left the control button.
    void onHoveringControlsChanged(bool isHovering);
    // The control menu opened or closed.
    void setShowMenu(bool isOpen);
    // This overlay's own settings (the control menu); each reports the overlay state.
    // The opacity is kept within 0.0–1.0; NaN is ignored.
    void setOverrideOpacity(std::optional<double> opacity);
    void setOverrideActivationMode(OverlayActivationMode mode);
    void setOverrideButtonPosition(OverlayButtonPosition position);
    // The close button and the auto-unpin timer: unpins the window (once).
    void requestUnpin();
    // The accessibility card's button: asks the system to prompt for the permission.
    void requestAccessibilityPermission();

    // ---- What the backend draws and tests read ----
    const SCWindow& window() const { return window_; }
    WindowID windowID() const { return window_.windowID; }
    AppLanguage locale() const { return locale_; }
    // The opacity the video shows now: immediate changes at once, animated ones as the panel
    // plays them.
    Published<double>& presentedOpacity() { return presentedOpacity_; }
    // Where the live picture is shown; the backend draws it at `presentedOpacity`.
    std::shared_ptr<VideoLayer> videoLayer() const;
    // The opacity last asked for (the end of any running animation).
    double opacity() const { return opacity_; }
    // The override opacity if any, else the global preference.
    double baseOpacity() const;
    double controlAlpha() const;
    bool showsAccessibilityCard() const { return !axTrusted_; }
    std::optional<double> overrideOpacity() const { return overrideOpacity_; }
    OverlayActivationMode activationMode() const { return overrideActivationMode_; }
    OverlayButtonPosition buttonPosition() const { return overrideButtonPosition_; }
    PinnedOverlayState overlayState() const;
    OverlayInteractionState interactionState() const { return interactionState_; }
    Size overlaySize() const { return overlaySize_; }
    bool isCapturing() const { return isCapturing_; }
    bool isPointerInsideOverlay() const { return isPointerInsideOverlay_; }
    bool isHoveringControls() const { return isHoveringControls_; }
    bool isSourceMinimized() const { return isSourceMinimized_; }
    bool isSourceFullScreen() const { return isSourceFullScreen_; }
    bool isSourceOnActiveSpace() const { return isSourceOnActiveSpace_; }
    bool isOverlayTemporarilyHidden() const { return isOverlayTemporarilyHidden_; }
    bool isSuspended() const { return isSuspended_; }
    bool isAdjustingOverlayFrame() const { return isAdjustingOverlayFrame_; }
    bool showMenu() const { return showMenu_; }
    bool axTrusted() const { return axTrusted_; }
    bool hasHostWindow() const { return !hostWindow_.expired(); }
    // Gone from its panel; nothing it does has effect any more.
    bool isClosed() const { return closed_; }
    const Uuid& revealAnimationToken() const { return revealAnimationToken_; }
    const std::shared_ptr<WindowEventObserver>& windowObserver() const { return windowObserver_; }

  private:
    PinnedOverlayView(Inputs inputs, Dependencies dependencies);

    std::shared_ptr<PlatformWindow> host() const { return hostWindow_.lock(); }
    bool isPinned() const;
    bool pointerInsideHost() const;
    double hostBackingScale(const PlatformWindow& host) const;
    void log(std::string message, DebugLogProperties properties = {}) const;
    // Runs `work` with the view in a later main-queue turn (after `delay`), unless it is gone
    // or closed by then.
    void later(std::function<void(PinnedOverlayView&)> work);
    TaskHandle after(Duration delay, std::function<void(PinnedOverlayView&)> work);

    void shown();
    void observeSource();
    void observeNotifications();
    void hostWindowFound(const std::shared_ptr<PlatformWindow>& host);
    void configureHostWindow();
    void updateOverlayVisibility();
    void stopCaptureIfNeeded();
    void ensureCaptureState();
    void startCapture();
    void handleWindowFrameChanged(const Rect& frame);
    void frameSettled();
    void sourceMinimized();
    void sourceRestored();
    void sourceFullScreenChanged(bool isFullScreen);
    void sourceClosed();
    void refreshActiveSpaceState();
    // `recheck` counts the later looks still allowed when the source is not found: on some
    // desktops the switch is announced before the new desktop's windows are shown.
    void refreshActiveSpaceState(int recheck);
    void activeSpaceChanged(bool isActive);
    void suspend();
    void resume();
    void captureErrorChanged(bool hasError);
    void reportOverlayState();

    void hostWindowMouseInteractivity();
    void beginReveal();
    void endReveal(bool force);
    void applyActivationMode();

    // Opacity changes. Each supersedes every earlier one, so an animation that completes after
    // a newer change leaves the newer value in place.
    void setOpacity(double value);
    void animateOpacity(double target, Duration duration);

    const SCWindow window_;
    const SCDisplay display_;
    const std::shared_ptr<WindowStreamControlling> streamController_;
    const OverlayContentFactory::StateChangedCallback onOverlayStateChange_;
    const OverlayContentFactory::SourceClosedCallback onWindowClosed_;
    const AppLanguage locale_;
    const std::weak_ptr<PinnedWindowDirectory> pinnedWindows_;
    const Dependencies deps_;

    // Settings.
    std::optional<double> overrideOpacity_;
    OverlayActivationMode overrideActivationMode_ = OverlayActivationMode::hover;
    OverlayButtonPosition overrideButtonPosition_ = OverlayButtonPosition::topTrailing;

    double opacity_ = 1.0;
    Published<double> presentedOpacity_{1.0};
    std::uint64_t opacityGeneration_ = 0;

    std::weak_ptr<PlatformWindow> hostWindow_;
    std::shared_ptr<WindowEventObserver> windowObserver_;
    Size overlaySize_;
    TaskHandle debounceWorkItem_;
    bool isCapturing_ = false;
    // Counts capture starts, so a first frame of an earlier capture changes nothing.
    std::uint64_t captureSession_ = 0;
    OverlayInteractionState interactionState_ = OverlayInteractionState::capturing;
    bool isPointerInsideOverlay_ = false;
    bool isHoveringControls_ = false;
    std::optional<WindowLevel> originalWindowLevel_;
    bool isSourceMinimized_ = false;
    bool isSourceFullScreen_ = false;
    bool isOverlayTemporarilyHidden_ = false;
    bool isSourceOnActiveSpace_ = true;
    bool isSuspended_ = false;
    bool isAdjustingOverlayFrame_ = false;
    Uuid revealAnimationToken_ = Uuid::random();
    bool showMenu_ = false;
    bool axTrusted_ = false;

    bool appeared_ = false;
    bool closed_ = false;
    bool unpinRequested_ = false;
    std::vector<ObserverToken> notificationObservers_;
    Subscription errorSubscription_;
};

}  // namespace tovalo
