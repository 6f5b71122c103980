#include "platform/sim/sim_platform_window.h"

#include <utility>
#include <vector>

namespace tovalo::sim {

std::shared_ptr<SimPlatformWindow> SimPlatformWindow::make(
    const std::shared_ptr<SimDesktop>& desktop, const WindowCreationOptions& options) {
    auto window = std::shared_ptr<SimPlatformWindow>(new SimPlatformWindow(desktop, options));
    if (desktop) {
        SimDesktop::OwnWindowUpdate update;
        {
            std::lock_guard lock(window->mutex_);
            update = window->updateLocked();
        }
        window->windowNumber_ = desktop->registerOwnWindow(window, update);
    }
    return window;
}

SimPlatformWindow::SimPlatformWindow(std::weak_ptr<SimDesktop> desktop,
                                     const WindowCreationOptions& options)
    : desktop_(std::move(desktop)), styleMask_(options.styleMask), isPanel_(options.isPanel) {
    state_.frame = options.contentRect;
    state_.title = options.title;
}

SimPlatformWindow::~SimPlatformWindow() {
    if (state_.closed || windowNumber_ == 0) {
        return;
    }
    if (auto desktop = desktop_.lock()) {
        desktop->ownWindowClosed(windowNumber_);
    }
}

SimDesktop::OwnWindowUpdate SimPlatformWindow::updateLocked() const {
    SimDesktop::OwnWindowUpdate update;
    update.screenFrame = state_.frame;
    update.layer = static_cast<int>(state_.level);
    update.alpha = state_.alpha;
    update.title = state_.title;
    update.orderedIn = state_.visible && !state_.closed;
    return update;
}

void SimPlatformWindow::mirror(const SimDesktop::OwnWindowUpdate& update) {
    if (auto desktop = desktop_.lock(); desktop && windowNumber_ != 0) {
        desktop->updateOwnWindow(windowNumber_, update);
    }
}

Rect SimPlatformWindow::frame() const {
    std::lock_guard lock(mutex_);
    return state_.frame;
}

void SimPlatformWindow::setFrame(const Rect& frame, bool /*display*/) {
    SimDesktop::OwnWindowUpdate update;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return;
        }
        state_.frame = frame;
        update = updateLocked();
    }
    mirror(update);
}

WindowLevel SimPlatformWindow::level() const {
    std::lock_guard lock(mutex_);
    return state_.level;
}

void SimPlatformWindow::setLevel(WindowLevel level) {
    SimDesktop::OwnWindowUpdate update;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return;
        }
        state_.level = level;
        update = updateLocked();
    }
    mirror(update);
}

std::string SimPlatformWindow::title() const {
    std::lock_guard lock(mutex_);
    return state_.title;
}

void SimPlatformWindow::setTitle(const std::string& title) {
    SimDesktop::OwnWindowUpdate update;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return;
        }
        state_.title = title;
        update = updateLocked();
    }
    mirror(update);
}

double SimPlatformWindow::alphaValue() const {
    std::lock_guard lock(mutex_);
    return state_.alpha;
}

void SimPlatformWindow::setAlphaValue(double alpha) {
    SimDesktop::OwnWindowUpdate update;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return;
        }
        state_.alpha = alpha;
        update = updateLocked();
    }
    mirror(update);
}

bool SimPlatformWindow::ignoresMouseEvents() const {
    std::lock_guard lock(mutex_);
    return state_.ignoresMouse;
}

void SimPlatformWindow::setIgnoresMouseEvents(bool ignores) {
    std::lock_guard lock(mutex_);
    state_.ignoresMouse = ignores;
}

bool SimPlatformWindow::isVisible() const {
    std::lock_guard lock(mutex_);
    return state_.visible;
}

bool SimPlatformWindow::isKeyWindow() const {
    {
        std::lock_guard lock(mutex_);
        if (!state_.visible || state_.closed) {
            return false;
        }
    }
    auto desktop = desktop_.lock();
    return desktop && windowNumber_ != 0 && desktop->keyWindow() == windowNumber_;
}

void SimPlatformWindow::show(bool makeKey) {
    SimDesktop::OwnWindowUpdate update;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return;
        }
        state_.visible = true;
        ++state_.orderFrontCount;
        update = updateLocked();
    }
    mirror(update);
    if (auto desktop = desktop_.lock(); desktop && windowNumber_ != 0) {
        desktop->raise(windowNumber_);
        if (makeKey) {
            desktop->setKeyWindow(windowNumber_);
        }
    }
}

void SimPlatformWindow::orderFront() {
    show(false);
}

void SimPlatformWindow::orderFrontRegardless() {
    show(false);
}

void SimPlatformWindow::makeKeyAndOrderFront() {
    show(true);
}

void SimPlatformWindow::orderOut() {
    SimDesktop::OwnWindowUpdate update;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return;
        }
        state_.visible = false;
        ++state_.orderOutCount;
        update = updateLocked();
    }
    mirror(update);
    if (auto desktop = desktop_.lock(); desktop && windowNumber_ != 0) {
        desktop->resignKeyWindow(windowNumber_);
    }
}

void SimPlatformWindow::close() {
    std::vector<std::uint64_t> observerIDs;
    {
        std::lock_guard lock(mutex_);
        if (state_.closing || state_.closed) {
            return;
        }
        state_.closing = true;
        for (const auto& [id, observer] : willCloseObservers_) {
            observerIDs.push_back(id);
        }
    }
    // Each observer runs unless an earlier one removed it; none runs under the lock, so an
    // observer may use the window freely.
    for (auto id : observerIDs) {
        std::function<void()> observer;
        {
            std::lock_guard lock(mutex_);
            auto it = willCloseObservers_.find(id);
            if (it == willCloseObservers_.end()) {
                continue;
            }
            observer = it->second;
        }
        observer();
    }
    std::shared_ptr<WindowContent> shownContent;
    {
        std::lock_guard lock(mutex_);
        state_.closed = true;
        state_.visible = false;
        willCloseObservers_.clear();
        if (std::exchange(state_.contentShown, false)) {
            shownContent = state_.content;
        }
    }
    if (shownContent) {
        shownContent->contentDidDisappear();
    }
    if (auto desktop = desktop_.lock(); desktop && windowNumber_ != 0) {
        desktop->ownWindowClosed(windowNumber_);
    }
}

bool SimPlatformWindow::isClosed() const {
    std::lock_guard lock(mutex_);
    return state_.closed;
}

std::shared_ptr<WindowContent> SimPlatformWindow::content() const {
    std::lock_guard lock(mutex_);
    return state_.content;
}

void SimPlatformWindow::setContent(std::shared_ptr<WindowContent> content) {
    std::shared_ptr<WindowContent> disappearing;
    bool appears = false;
    {
        std::lock_guard lock(mutex_);
        if (content == state_.content) {
            return;
        }
        if (state_.contentShown) {
            disappearing = state_.content;
        }
        state_.content = content;
        appears = content && !state_.closed;
        state_.contentShown = appears;
    }
    // Outside the lock: a content may use its window as it appears or disappears.
    if (disappearing) {
        disappearing->contentDidDisappear();
    }
    if (appears) {
        content->contentDidAppear(shared_from_this());
    }
}

void SimPlatformWindow::animate(const AnimationRequest& request, std::function<void(double)> apply,
                                std::function<void()> completion) {
    {
        std::lock_guard lock(mutex_);
        animations_.push_back(request);
    }
    auto desktop = desktop_.lock();
    if (!desktop) {
        return;
    }
    const double target = request.targetValue;
    desktop->runtime()->mainQueue()->asyncAfter(
        request.duration, [apply = std::move(apply), completion = std::move(completion), target] {
            if (apply) {
                apply(target);
            }
            if (completion) {
                completion();
            }
        });
}

std::vector<AnimationRequest> SimPlatformWindow::animationRequests() const {
    std::lock_guard lock(mutex_);
    return animations_;
}

Subscription SimPlatformWindow::observeWillClose(std::function<void()> observer) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        if (state_.closed) {
            return Subscription();
        }
        id = nextObserverID_++;
        willCloseObservers_.emplace(id, std::move(observer));
    }
    return Subscription([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->mutex_);
            self->willCloseObservers_.erase(id);
        }
    });
}

int SimPlatformWindow::orderFrontCount() const {
    std::lock_guard lock(mutex_);
    return state_.orderFrontCount;
}

int SimPlatformWindow::orderOutCount() const {
    std::lock_guard lock(mutex_);
    return state_.orderOutCount;
}

int SimPlatformWindow::willCloseObserverCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(willCloseObservers_.size());
}

}  // namespace tovalo::sim
