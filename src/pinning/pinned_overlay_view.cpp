#include "pinning/pinned_overlay_view.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pinning/screen_coordinates.h"
#include "platform/system_notifications.h"
#include "prefs/notification_name.h"
#include "prefs/preferences.h"

namespace tovalo {

namespace {

constexpr const char* kLogTag = "PinnedOverlay";

}  // namespace

std::shared_ptr<PinnedOverlayView> PinnedOverlayView::create(Inputs inputs,
                                                             Dependencies dependencies) {
    return std::shared_ptr<PinnedOverlayView>(
        new PinnedOverlayView(std::move(inputs), std::move(dependencies)));
}

PinnedOverlayView::PinnedOverlayView(Inputs inputs, Dependencies dependencies)
    : window_(std::move(inputs.window)),
      display_(std::move(inputs.display)),
      streamController_(std::move(inputs.streamController)),
      onOverlayStateChange_(std::move(inputs.onOverlayStateChange)),
      onWindowClosed_(std::move(inputs.onWindowClosed)),
      locale_(inputs.locale),
      pinnedWindows_(std::move(inputs.pinnedWindows)),
      deps_(std::move(dependencies)) {
    if (inputs.initialOverlayState) {
        overrideOpacity_ = inputs.initialOverlayState->opacity;
        overrideActivationMode_ = inputs.initialOverlayState->activationMode;
        overrideButtonPosition_ = inputs.initialOverlayState->buttonPosition;
    } else {
        overrideActivationMode_ = Preferences::overlayActivationMode(*deps_.preferences);
        overrideButtonPosition_ = Preferences::overlayButtonPosition(*deps_.preferences);
    }
    opacity_ = baseOpacity();
    presentedOpacity_.set(opacity_);
    windowObserver_ = WindowEventObserver::create(
        window_.windowID,
        {deps_.runtime, deps_.accessibility, deps_.windowServerInfo, deps_.workspaceCenter});
}

PinnedOverlayView::~PinnedOverlayView() {
    debounceWorkItem_.cancel();
}

// ---- Reading ----

double PinnedOverlayView::baseOpacity() const {
    return overrideOpacity_ ? *overrideOpacity_ : Preferences::overlayOpacity(*deps_.preferences);
}

double PinnedOverlayView::controlAlpha() const {
    if (showMenu_ || isHoveringControls_ ||
        interactionState_ == OverlayInteractionState::revealing) {
        return 1.0;
    }
    return isOverlayTemporarilyHidden_ ? 0.0 : opacity_;
}

std::shared_ptr<VideoLayer> PinnedOverlayView::videoLayer() const {
    return streamController_->videoLayer();
}

PinnedOverlayState PinnedOverlayView::overlayState() const {
    return PinnedOverlayState{overrideOpacity_, overrideActivationMode_, overrideButtonPosition_};
}

bool PinnedOverlayView::isPinned() const {
    auto directory = pinnedWindows_.lock();
    return directory && directory->isPinned(window_.windowID);
}

bool PinnedOverlayView::pointerInsideHost() const {
    auto panel = host();
    if (!panel || !panel->content()) {
        return false;
    }
    return panel->frame().contains(deps_.application->mouseLocation());
}

double PinnedOverlayView::hostBackingScale(const PlatformWindow& panel) const {
    // The screen the panel overlaps most is the one it is drawn on.
    const Rect frame = panel.frame();
    double bestArea = 0;
    std::optional<double> scale;
    for (const auto& screen : deps_.screens->screens()) {
        const Rect overlap = intersection(frame, screen.frame);
        const double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            scale = screen.backingScaleFactor;
        }
    }
    return scale.value_or(2.0);
}

void PinnedOverlayView::log(std::string message, DebugLogProperties properties) const {
    properties.emplace_back("window_id", window_.windowID);
    TOVALO_DEBUG_LOG(kLogTag, std::move(message), std::move(properties));
}

void PinnedOverlayView::later(std::function<void(PinnedOverlayView&)> work) {
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    deps_.runtime->mainQueue()->async([weak, work = std::move(work)] {
        if (auto self = weak.lock(); self && !self->closed_) {
            work(*self);
        }
    });
}

TaskHandle PinnedOverlayView::after(Duration delay, std::function<void(PinnedOverlayView&)> work) {
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    return deps_.runtime->mainQueue()->asyncAfter(delay, [weak, work = std::move(work)] {
        if (auto self = weak.lock(); self && !self->closed_) {
            work(*self);
        }
    });
}

// ---- Appearing and disappearing ----

void PinnedOverlayView::contentDidAppear(const std::shared_ptr<PlatformWindow>& host) {
    if (appeared_ || closed_) {
        return;
    }
    appeared_ = true;
    // Kept alive to the end: what runs here may unpin the window and release this view.
    auto self = shared_from_this();
    shown();
    // The panel is known once the view is in it, in the next turn.
    std::weak_ptr<PlatformWindow> weakHost = host;
    later([weakHost](PinnedOverlayView& view) {
        if (auto panel = weakHost.lock()) {
            view.hostWindowFound(panel);
        }
    });
}

void PinnedOverlayView::shown() {
    log("appear",
        {{"initial_width", window_.frame.width()}, {"initial_height", window_.frame.height()}});
    observeSource();
    observeNotifications();
    windowObserver_->startObserving();
    overlaySize_ = window_.frame.size;
    refreshActiveSpaceState();
    axTrusted_ = deps_.accessibility->isProcessTrusted(false);
    after(kHostConfigurationDelay, [](PinnedOverlayView& view) { view.configureHostWindow(); });
    reportOverlayState();
}

void PinnedOverlayView::observeSource() {
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    // The observer reports in a later turn already; these hold the view weakly, as the observer
    // it owns must not keep it alive.
    const auto withView = [weak](std::function<void(PinnedOverlayView&)> work) {
        if (auto self = weak.lock(); self && !self->closed_) {
            work(*self);
        }
    };
    windowObserver_->setOnWindowMoved([withView](const Rect& frame) {
        withView([frame](PinnedOverlayView& view) {
            view.log("source moved", {{"x", frame.minX()}, {"y", frame.minY()}});
            view.handleWindowFrameChanged(frame);
        });
    });
    windowObserver_->setOnWindowResized([withView](const Rect& frame) {
        withView([frame](PinnedOverlayView& view) {
            view.log("source resized", {{"width", frame.width()}, {"height", frame.height()}});
            view.handleWindowFrameChanged(frame);
        });
    });
    windowObserver_->setOnWindowClosed(
        [withView] { withView([](PinnedOverlayView& view) { view.sourceClosed(); }); });
    windowObserver_->setOnMinimized([withView] {
        withView([](PinnedOverlayView& view) {
            view.later([](PinnedOverlayView& v) { v.sourceMinimized(); });
        });
    });
    windowObserver_->setOnRestored([withView] {
        withView([](PinnedOverlayView& view) {
            view.later([](PinnedOverlayView& v) { v.sourceRestored(); });
        });
    });
    windowObserver_->setOnFullScreenStateChanged([withView](bool isFullScreen) {
        withView([isFullScreen](PinnedOverlayView& view) {
            view.later(
                [isFullScreen](PinnedOverlayView& v) { v.sourceFullScreenChanged(isFullScreen); });
        });
    });
}

void PinnedOverlayView::observeNotifications() {
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    const auto main = deps_.runtime->mainQueue();
    const auto handler = [weak](void (PinnedOverlayView::*member)()) {
        return [weak, member](const Notification&) {
            if (auto self = weak.lock(); self && !self->closed_) {
                ((*self).*member)();
            }
        };
    };
    notificationObservers_.push_back(
        deps_.workspaceCenter->addObserver(SystemNotification::activeSpaceDidChange, main,
                                           handler(&PinnedOverlayView::refreshActiveSpaceState)));
    notificationObservers_.push_back(deps_.defaultCenter->addObserver(
        SystemNotification::applicationDidBecomeActive, main, [weak](const Notification&) {
            if (auto self = weak.lock(); self && !self->closed_) {
                self->axTrusted_ = self->deps_.accessibility->isProcessTrusted(false);
            }
        }));
    notificationObservers_.push_back(deps_.defaultCenter->addObserver(
        NotificationName::pinnedWindowsShouldSuspend, main, handler(&PinnedOverlayView::suspend)));
    notificationObservers_.push_back(deps_.defaultCenter->addObserver(
        NotificationName::pinnedWindowsShouldResume, main, handler(&PinnedOverlayView::resume)));
    errorSubscription_ = streamController_->hasError().subscribe([weak](const bool& hasError) {
        if (auto self = weak.lock(); self && !self->closed_) {
            self->captureErrorChanged(hasError);
        }
    });
}

void PinnedOverlayView::contentDidDisappear() {
    if (closed_) {
        return;
    }
    auto self = shared_from_this();
    log("disappear");
    closed_ = true;
    debounceWorkItem_.cancel();
    notificationObservers_.clear();
    errorSubscription_.reset();
    windowObserver_->stopObserving();
    streamController_->stopCapture();
    isCapturing_ = false;
    log("stopCapture");
}

// ---- The host panel ----

void PinnedOverlayView::hostWindowFound(const std::shared_ptr<PlatformWindow>& panel) {
    hostWindow_ = panel;
    if (!originalWindowLevel_) {
        originalWindowLevel_ = panel->level();
    }
    updateOverlayVisibility();
}

void PinnedOverlayView::configureHostWindow() {
    auto panel = host();
    if (!panel) {
        return;
    }
    const auto bounds = deps_.windowServerInfo->windowBounds(window_.windowID);
    if (!bounds) {
        return;
    }
    const Rect frame = toScreenCoordinates(*bounds, *deps_.screens);
    panel->setFrame(frame, true);
    const bool passThrough = overrideActivationMode_ == OverlayActivationMode::none;
    panel->setIgnoresMouseEvents(passThrough);
    // An overlay that never takes the pointer starts see-through, unless it brings its own
    // opacity (restored or rebuilt), which must not be lost.
    if (passThrough && !overrideOpacity_) {
        setOverrideOpacity(kPassThroughOpacity);
    }
    updateOverlayVisibility();
    log("host window configured",
        {{"panel_width", frame.width()}, {"panel_height", frame.height()}});
}

void PinnedOverlayView::updateOverlayVisibility() {
    auto panel = host();
    if (!panel) {
        return;
    }
    if (!isPinned()) {
        stopCaptureIfNeeded();
        panel->orderOut();
        return;
    }
    if (isSourceMinimized_ || isSourceFullScreen_ || !isSourceOnActiveSpace_ || isSuspended_) {
        if (isOverlayTemporarilyHidden_) {
            return;
        }
        if (!originalWindowLevel_) {
            originalWindowLevel_ = panel->level();
        }
        // Dropping to the normal band and back makes the window server forget the panel's
        // place above other windows while it is away.
        panel->setLevel(WindowLevel::normal);
        panel->setLevel(*originalWindowLevel_);
        streamController_->stopCapture();
        isCapturing_ = false;
        log("stopCapture");
        panel->orderOut();
        isOverlayTemporarilyHidden_ = true;
        return;
    }
    if (originalWindowLevel_) {
        panel->setLevel(*originalWindowLevel_);
    }
    if (const auto bounds = deps_.windowServerInfo->windowBounds(window_.windowID)) {
        const Rect frame = toScreenCoordinates(*bounds, *deps_.screens);
        if (frame != panel->frame()) {
            panel->setFrame(frame, false);
            overlaySize_ = frame.size;
        }
    }
    if (isOverlayTemporarilyHidden_ || !panel->isVisible()) {
        panel->orderFrontRegardless();
        setOpacity(baseOpacity());
    }
    isOverlayTemporarilyHidden_ = false;
    hostWindowMouseInteractivity();
    if (!isAdjustingOverlayFrame_) {
        ensureCaptureState();
    }
}

// ---- Capture ----

void PinnedOverlayView::stopCaptureIfNeeded() {
    if (!isCapturing_) {
        return;
    }
    streamController_->stopCapture();
    isCapturing_ = false;
    log("stopCapture");
}

void PinnedOverlayView::ensureCaptureState() {
    if (interactionState_ == OverlayInteractionState::revealing || isAdjustingOverlayFrame_) {
        return;
    }
    if (isPinned() && isSourceOnActiveSpace_) {
        if (!isCapturing_) {
            startCapture();
        }
        return;
    }
    stopCaptureIfNeeded();
}

void PinnedOverlayView::startCapture() {
    const auto abort = [this](const char* reason) {
        isCapturing_ = false;
        log("startCapture aborted", {{"reason", reason}});
    };
    if (!isPinned()) {
        return abort("not_pinned");
    }
    if (isSourceMinimized_ || isSourceFullScreen_) {
        return abort("minimized_or_fullscreen");
    }
    if (!isSourceOnActiveSpace_) {
        return abort("inactive_space");
    }
    // Nothing to capture in a window without area; a later frame change starts it.
    if (overlaySize_.width <= 0 || overlaySize_.height <= 0 || std::isnan(overlaySize_.width) ||
        std::isnan(overlaySize_.height)) {
        return abort("empty_size");
    }
    if (auto layer = streamController_->videoLayer()) {
        layer->flushAndRemoveImage();
    }
    auto panel = host();
    const double scale = panel ? hostBackingScale(*panel) : 2.0;
    setOpacity(0.0);

    const std::uint64_t session = ++captureSession_;
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    streamController_->setOnFirstFrame([weak, session] {
        auto self = weak.lock();
        // A first frame of a capture that was stopped since must not bring the copy back.
        if (!self || self->closed_ || !self->isCapturing_ || self->captureSession_ != session) {
            return;
        }
        self->animateOpacity(self->baseOpacity(), kFadeInDuration);
    });
    streamController_->startCapture(window_, display_, overlaySize_.width, overlaySize_.height,
                                    scale);
    interactionState_ = OverlayInteractionState::capturing;
    isCapturing_ = true;
    log("startCapture success", {{"width", overlaySize_.width}, {"height", overlaySize_.height}});
    hostWindowMouseInteractivity();
}

void PinnedOverlayView::captureErrorChanged(bool hasError) {
    if (!hasError) {
        return;
    }
    interactionState_ = OverlayInteractionState::capturing;
    isPointerInsideOverlay_ = false;
    isHoveringControls_ = false;
    animateOpacity(0.0, kErrorFadeOutDuration);
}

// ---- Following the source ----

void PinnedOverlayView::handleWindowFrameChanged(const Rect& frame) {
    auto panel = host();
    if (!panel) {
        return;
    }
    log("handleWindowFrameChanged", {{"width", frame.width()}, {"height", frame.height()}});
    const Rect target = toScreenCoordinates(frame, *deps_.screens);
    if (target == panel->frame()) {
        return;
    }
    isAdjustingOverlayFrame_ = true;
    panel->setFrame(target, true);
    overlaySize_ = target.size;
    stopCaptureIfNeeded();
    if (interactionState_ == OverlayInteractionState::capturing &&
        overrideActivationMode_ != OverlayActivationMode::none) {
        setOpacity(0.0);
    }
    debounceWorkItem_.cancel();
    debounceWorkItem_ =
        after(kFrameSettleDelay, [](PinnedOverlayView& view) { view.frameSettled(); });
}

void PinnedOverlayView::frameSettled() {
    if (!isAdjustingOverlayFrame_) {
        return;
    }
    isAdjustingOverlayFrame_ = false;
    if (interactionState_ == OverlayInteractionState::capturing) {
        animateOpacity(baseOpacity(), kFadeInDuration);
    }
    if (auto panel = host()) {
        if (!isOverlayTemporarilyHidden_) {
            panel->orderFrontRegardless();
        }
        updateOverlayVisibility();
    }
    if (closed_) {
        return;
    }
    if (overrideActivationMode_ != OverlayActivationMode::none) {
        const bool inside = pointerInsideHost();
        handlePointerHover(inside);
        if (inside) {
            return;
        }
    }
    ensureCaptureState();
}

void PinnedOverlayView::sourceMinimized() {
    isSourceMinimized_ = true;
    log("source minimized");
    updateOverlayVisibility();
}

void PinnedOverlayView::sourceRestored() {
    isSourceMinimized_ = false;
    if (const auto bounds = deps_.windowServerInfo->windowBounds(window_.windowID)) {
        overlaySize_ = bounds->size;
    }
    isSourceOnActiveSpace_ = true;
    log("source restored");
    updateOverlayVisibility();
}

void PinnedOverlayView::sourceFullScreenChanged(bool isFullScreen) {
    isSourceFullScreen_ = isFullScreen;
    log("source fullScreenChanged", {{"is_full_screen", isFullScreen}});
    if (isFullScreen) {
        isSourceOnActiveSpace_ = false;
        requestUnpin();
        return;
    }
    isSourceOnActiveSpace_ = true;
    updateOverlayVisibility();
}

void PinnedOverlayView::sourceClosed() {
    auto self = shared_from_this();
    log("windowObserver detected close");
    requestUnpin();
    windowObserver_->stopObserving();
    streamController_->stopCapture();
    isCapturing_ = false;
    log("stopCapture");
}

void PinnedOverlayView::requestUnpin() {
    // Closing, full screen, the close button and the timer may all ask; the manager hears once.
    if (unpinRequested_ || closed_) {
        return;
    }
    unpinRequested_ = true;
    auto self = shared_from_this();
    if (onWindowClosed_) {
        onWindowClosed_();
    }
}

void PinnedOverlayView::refreshActiveSpaceState() {
    refreshActiveSpaceState(kActiveSpaceRechecks);
}

void PinnedOverlayView::refreshActiveSpaceState(int recheck) {
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    const WindowID windowID = window_.windowID;
    deps_.contextProvider->refreshContent(
        [weak, windowID, recheck](const std::optional<FilteredShareableContent>& content, bool) {
            auto self = weak.lock();
            if (!self || self->closed_ || !content) {
                return;
            }
            const bool isActive =
                std::any_of(content->windows.begin(), content->windows.end(),
                            [windowID](const SCWindow& w) { return w.windowID == windowID; });
            self->later([isActive](PinnedOverlayView& view) { view.activeSpaceChanged(isActive); });
            if (!isActive && recheck > 0) {
                // The switch may have been announced before the desktop's windows were shown.
                self->deps_.runtime->mainQueue()->asyncAfter(
                    kActiveSpaceRecheckDelay, [weak, recheck] {
                        auto view = weak.lock();
                        if (view && !view->closed_ && !view->isSourceOnActiveSpace_) {
                            view->refreshActiveSpaceState(recheck - 1);
                        }
                    });
            }
        });
}

void PinnedOverlayView::activeSpaceChanged(bool isActive) {
    isSourceOnActiveSpace_ = isActive;
    log("activeSpaceChange", {{"is_active", isActive}});
    updateOverlayVisibility();
    if (isActive) {
        ensureCaptureState();
    } else {
        stopCaptureIfNeeded();
    }
}

void PinnedOverlayView::suspend() {
    if (!isPinned() || isSuspended_) {
        return;
    }
    isSuspended_ = true;
    log("suspend");
    updateOverlayVisibility();
}

void PinnedOverlayView::resume() {
    if (!isPinned()) {
        isSuspended_ = false;
        return;
    }
    if (!isSuspended_) {
        return;
    }
    isSuspended_ = false;
    log("resume");
    updateOverlayVisibility();
}

// ---- Settings ----

void PinnedOverlayView::reportOverlayState() {
    if (onOverlayStateChange_) {
        onOverlayStateChange_(overlayState());
    }
}

void PinnedOverlayView::setOverrideOpacity(std::optional<double> opacity) {
    if (closed_ || (opacity && std::isnan(*opacity))) {
        return;
    }
    if (opacity) {
        opacity = std::clamp(*opacity, 0.0, 1.0);
    }
    if (opacity == overrideOpacity_) {
        return;
    }
    overrideOpacity_ = opacity;
    setOpacity(baseOpacity());
    reportOverlayState();
}

void PinnedOverlayView::setOverrideActivationMode(OverlayActivationMode mode) {
    if (closed_ || mode == overrideActivationMode_) {
        return;
    }
    overrideActivationMode_ = mode;
    applyActivationMode();
    reportOverlayState();
}

void PinnedOverlayView::setOverrideButtonPosition(OverlayButtonPosition position) {
    if (closed_ || position == overrideButtonPosition_) {
        return;
    }
    overrideButtonPosition_ = position;
    reportOverlayState();
}

void PinnedOverlayView::requestAccessibilityPermission() {
    if (closed_) {
        return;
    }
    axTrusted_ = deps_.accessibility->isProcessTrusted(true);
}

// ---- Opacity ----

void PinnedOverlayView::setOpacity(double value) {
    ++opacityGeneration_;
    opacity_ = value;
    presentedOpacity_.set(value);
}

void PinnedOverlayView::animateOpacity(double target, Duration duration) {
    const std::uint64_t generation = ++opacityGeneration_;
    opacity_ = target;
    auto panel = host();
    if (!panel) {
        presentedOpacity_.set(target);
        return;
    }
    std::weak_ptr<PinnedOverlayView> weak = weak_from_this();
    // Only the newest change may show: a slower, older animation finishing late is ignored.
    const auto apply = [weak, generation](double value) {
        if (auto self = weak.lock();
            self && !self->closed_ && self->opacityGeneration_ == generation) {
            self->presentedOpacity_.set(value);
        }
    };
    panel->animate(AnimationRequest{target, duration, AnimationCurve::easeOut}, apply,
                   [apply, target] { apply(target); });
}

}  // namespace tovalo
