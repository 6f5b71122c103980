#include "pinning/window_event_observer.h"

#include <array>
#include <utility>
#include <variant>

#include "pinning/ax_window_lookup.h"
#include "platform/system_notifications.h"
#include "platform/workspace.h"

namespace tovalo {

namespace {

constexpr std::array<const char*, 5> kObservedNotifications = {
    AXNotification::moved,
    AXNotification::resized,
    AXNotification::uiElementDestroyed,
    AXNotification::windowMiniaturized,
    AXNotification::windowDeminiaturized,
};

// The process that quit, from the application object or else the user information.
std::optional<ProcessID> terminatedProcess(const Notification& notification) {
    if (const auto* app = notification.objectAs<RunningApplicationRef>(); app && *app) {
        return (*app)->processIdentifier();
    }
    const auto found = notification.userInfo.find(SystemNotification::processIdentifierKey);
    if (found == notification.userInfo.end()) {
        return std::nullopt;
    }
    const auto pid = found->second.asInt();
    if (!pid || *pid != static_cast<ProcessID>(*pid)) {
        return std::nullopt;
    }
    return static_cast<ProcessID>(*pid);
}

// "AXFullScreen" is a Boolean number.
std::optional<bool> fullScreenValue(const AXValue& value) {
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag;
    }
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return *number != 0;
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<WindowEventObserver> WindowEventObserver::create(WindowID windowID,
                                                                 Dependencies dependencies) {
    return std::shared_ptr<WindowEventObserver>(
        new WindowEventObserver(windowID, std::move(dependencies)));
}

WindowEventObserver::WindowEventObserver(WindowID windowID, Dependencies dependencies)
    : windowID_(windowID),
      runtime_(std::move(dependencies.runtime)),
      accessibility_(std::move(dependencies.accessibility)),
      windowServerInfo_(std::move(dependencies.windowServerInfo)),
      workspaceCenter_(std::move(dependencies.workspaceCenter)) {}

WindowEventObserver::~WindowEventObserver() {
    tearDown();
}

AXUIElementRef WindowEventObserver::findAXWindow() const {
    return AXWindowLookup(*accessibility_, *windowServerInfo_).findAXWindow(windowID_);
}

bool WindowEventObserver::readCurrentFrame() {
    const auto bounds = windowServerInfo_->windowBounds(windowID_);
    if (!bounds) {
        return false;
    }
    if (*bounds != currentFrame_.get()) {
        currentFrame_.set(*bounds);
    }
    return true;
}

void WindowEventObserver::startObserving() {
    if (isObserving_.get() || !accessibility_->isProcessTrusted(false)) {
        return;
    }
    axWindow_ = findAXWindow();
    if (!axWindow_) {
        // No element to listen to: polling alone reports moves, resizes and closure.
        ++observation_;
        startPolling(PollingIntervalPolicy::fastPollingInterval);
        isObserving_.set(true);
        readCurrentFrame();
        checkFullScreen(true);
        return;
    }

    const ProcessID pid = AXWindowLookup(*accessibility_, *windowServerInfo_).ownerPID(windowID_);
    const std::uint64_t observation = observation_ + 1;
    std::weak_ptr<WindowEventObserver> weak = weak_from_this();
    AXError error = kAXErrorSuccess;
    auto observer = accessibility_->createObserver(
        pid,
        [weak, observation, mainQueue = runtime_->mainQueue()](const AXUIElementRef& /*element*/,
                                                               const std::string& name) {
            // Leave the platform's callback before acting on the notification.
            mainQueue->async([weak, observation, name] {
                auto self = weak.lock();
                if (self && self->observation_ == observation && self->isObserving_.get()) {
                    self->handleAXNotification(name);
                }
            });
        },
        error);
    if (!observer || error != kAXErrorSuccess) {
        return;
    }
    observation_ = observation;
    axObserver_ = std::move(observer);
    for (const char* name : kObservedNotifications) {
        axObserver_->addNotification(axWindow_, name);
    }
    axObserver_->attachToMainRunLoop();
    readCurrentFrame();
    startTerminationWatch();
    startPolling(PollingIntervalPolicy::basePollingInterval);
    isObserving_.set(true);
}

void WindowEventObserver::stopObserving() {
    if (!isObserving_.get()) {
        return;
    }
    tearDown();
    isObserving_.set(false);
}

void WindowEventObserver::tearDown() {
    if (axObserver_) {
        axObserver_->detachFromMainRunLoop();
    }
    pollingTimer_.reset();
    workspaceObserver_.reset();
    axObserver_.reset();
    axWindow_.reset();
}

void WindowEventObserver::startTerminationWatch() {
    ownerPID_ = AXWindowLookup(*accessibility_, *windowServerInfo_).ownerPID(windowID_);
    if (ownerPID_ <= 0 || !workspaceCenter_) {
        return;
    }
    std::weak_ptr<WindowEventObserver> weak = weak_from_this();
    workspaceObserver_ = workspaceCenter_->addObserver(
        SystemNotification::didTerminateApplication, runtime_->mainQueue(),
        [weak](const Notification& notification) {
            if (auto self = weak.lock()) {
                self->handleTermination(notification);
            }
        });
}

void WindowEventObserver::handleTermination(const Notification& notification) {
    if (terminatedProcess(notification) == ownerPID_) {
        closeAndNotify();
    }
}

void WindowEventObserver::handleAXNotification(const std::string& name) {
    if (name == AXNotification::moved) {
        handleFrameNotification(FrameAspect::origin);
    } else if (name == AXNotification::resized) {
        handleFrameNotification(FrameAspect::size);
    } else if (name == AXNotification::uiElementDestroyed) {
        closeAndNotify();
    } else if (name == AXNotification::windowMiniaturized) {
        handleMiniaturized();
    } else if (name == AXNotification::windowDeminiaturized) {
        handleDeminiaturized();
    }
}

void WindowEventObserver::handleFrameNotification(FrameAspect aspect) {
    const Rect old = currentFrame_.get();
    readCurrentFrame();
    const Rect now = currentFrame_.get();
    const bool changed =
        aspect == FrameAspect::origin ? now.origin != old.origin : now.size != old.size;
    if (changed) {
        if (const auto interval = polling_.accessibilitySawChange()) {
            startPolling(*interval);
        }
        // The frame as it is when the owner hears of it, not as it was here.
        notifyLater([aspect](const Callbacks& callbacks, WindowEventObserver& self) {
            const auto& callback =
                aspect == FrameAspect::origin ? callbacks.onWindowMoved : callbacks.onWindowResized;
            if (callback) {
                callback(self.currentFrame_.get());
            }
        });
    }
    checkFullScreen(false);
}

void WindowEventObserver::handleMiniaturized() {
    if (!lastKnownFullScreenState_ || *lastKnownFullScreenState_) {
        lastKnownFullScreenState_ = false;
        notifyLater([](const Callbacks& callbacks, WindowEventObserver&) {
            if (callbacks.onFullScreenStateChanged) {
                callbacks.onFullScreenStateChanged(false);
            }
        });
    }
    // A copy: the owner may replace its callbacks from inside one.
    if (auto onMinimized = callbacks_.onMinimized) {
        onMinimized();
    }
    pollingPaused_ = true;
}

void WindowEventObserver::handleDeminiaturized() {
    readCurrentFrame();
    if (auto onRestored = callbacks_.onRestored) {
        onRestored();
    }
    // The owner may have stopped the observer on hearing of the restore.
    if (!isObserving_.get()) {
        return;
    }
    pollingPaused_ = false;
    checkFullScreen(true);
}

void WindowEventObserver::startPolling(double interval) {
    polling_.pollingStarted(interval);
    pollingTimer_.reset();
    pollingPaused_ = false;
    std::weak_ptr<WindowEventObserver> weak = weak_from_this();
    pollingTimer_ =
        std::make_unique<RepeatingTimer>(runtime_->mainQueue(), seconds(interval),
                                         PollingIntervalPolicy::timerTolerance(interval), [weak] {
                                             if (auto self = weak.lock()) {
                                                 self->pollTick();
                                             }
                                         });
}

void WindowEventObserver::pollTick() {
    if (pollingPaused_ || !isObserving_.get()) {
        return;
    }
    const auto bounds = windowServerInfo_->windowBounds(windowID_);
    if (!bounds) {
        // Gone from the window server's list.
        closeAndNotify();
        return;
    }
    const Rect old = currentFrame_.get();
    if (*bounds != old) {
        currentFrame_.set(*bounds);
    }
    bool changed = false;
    if (bounds->origin != old.origin) {
        changed = true;
        polling_.pollSawChange();
        notifyLater([frame = *bounds](const Callbacks& callbacks, WindowEventObserver&) {
            if (callbacks.onWindowMoved) {
                callbacks.onWindowMoved(frame);
            }
        });
    }
    if (bounds->size != old.size) {
        changed = true;
        polling_.pollSawChange();
        notifyLater([frame = *bounds](const Callbacks& callbacks, WindowEventObserver&) {
            if (callbacks.onWindowResized) {
                callbacks.onWindowResized(frame);
            }
        });
    }
    checkFullScreen(false);
    if (!changed) {
        if (const auto interval = polling_.pollSawNoChange()) {
            startPolling(*interval);
        }
    }
}

void WindowEventObserver::checkFullScreen(bool force) {
    if (!axWindow_) {
        axWindow_ = findAXWindow();
        if (!axWindow_) {
            return;
        }
    }
    AXValue value;
    if (accessibility_->copyAttributeValue(axWindow_, AXAttribute::fullScreen, value) !=
        kAXErrorSuccess) {
        return;
    }
    const auto isFullScreen = fullScreenValue(value);
    if (!isFullScreen) {
        return;
    }
    if (!force && lastKnownFullScreenState_ == isFullScreen) {
        return;
    }
    lastKnownFullScreenState_ = isFullScreen;
    notifyLater([value = *isFullScreen](const Callbacks& callbacks, WindowEventObserver&) {
        if (callbacks.onFullScreenStateChanged) {
            callbacks.onFullScreenStateChanged(value);
        }
    });
}

void WindowEventObserver::closeAndNotify() {
    // Several sources may see the same end (the element's destruction, the list, the owner
    // quitting); the owner hears of it once.
    if (!isObserving_.get()) {
        return;
    }
    stopObserving();
    notifyLater([](const Callbacks& callbacks, WindowEventObserver&) {
        if (callbacks.onWindowClosed) {
            callbacks.onWindowClosed();
        }
    });
}

void WindowEventObserver::notifyLater(
    std::function<void(const Callbacks&, WindowEventObserver&)> call) {
    std::weak_ptr<WindowEventObserver> weak = weak_from_this();
    runtime_->mainQueue()->async([weak, call = std::move(call)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        // A copy: the owner may replace or drop its callbacks, or the observer, from inside one.
        const Callbacks callbacks = self->callbacks_;
        call(callbacks, *self);
    });
}

}  // namespace tovalo
