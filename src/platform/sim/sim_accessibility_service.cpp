#include "platform/sim/sim_accessibility_service.h"

#include <algorithm>

#include "platform/sim/sim_ax_element.h"
#include "platform/sim/sim_running_application.h"

namespace tovalo::sim {

SimAccessibilityService::SimAccessibilityService(std::weak_ptr<SimDesktop> desktop,
                                                 std::shared_ptr<DispatchRuntime> runtime)
    : desktop_(std::move(desktop)), runtime_(std::move(runtime)) {}

bool SimAccessibilityService::isProcessTrusted(bool prompt) {
    if (prompt) {
        std::lock_guard lock(mutex_);
        ++prompts_;
    }
    return isTrusted();
}

bool SimAccessibilityService::isTrusted() const {
    auto desktop = desktop_.lock();
    return desktop && desktop->isAccessibilityTrusted();
}

bool SimAccessibilityService::windowExists(WindowID windowID) const {
    auto desktop = desktop_.lock();
    return desktop && desktop->window(windowID).has_value();
}

AXUIElementRef SimAccessibilityService::createApplicationElement(ProcessID pid) {
    return SimAXElement::application(pid);
}

std::optional<AXError> SimAccessibilityService::takeReadFailure(const std::string& attribute) {
    std::lock_guard lock(mutex_);
    ++readCounts_[attribute];
    auto it = readFailures_.find(attribute);
    if (it == readFailures_.end()) {
        return std::nullopt;
    }
    AXError code = it->second.code;
    if (it->second.remaining > 0 && --it->second.remaining == 0) {
        readFailures_.erase(it);
    }
    return code;
}

AXError SimAccessibilityService::copyAttributeValue(const AXUIElementRef& element,
                                                    const std::string& attribute, AXValue& value) {
    value = std::monostate{};
    if (!isTrusted()) {
        return kAXErrorAPIDisabled;
    }
    if (auto failure = takeReadFailure(attribute)) {
        return *failure;
    }
    const auto* sim = dynamic_cast<const SimAXElement*>(element.get());
    auto desktop = desktop_.lock();
    if (!sim || !desktop) {
        return kAXErrorIllegalArgument;
    }

    if (sim->kind() == SimAXElement::Kind::application) {
        auto app = desktop->app(sim->pid());
        if (!app || app->isTerminated()) {
            return kAXErrorInvalidUIElement;
        }
        if (attribute != AXAttribute::windows) {
            return kAXErrorAttributeUnsupported;
        }
        // Like the real service: windows of other desktops are not listed.
        const int current = desktop->currentDesktop();
        std::set<WindowID> hidden;
        {
            std::lock_guard lock(mutex_);
            hidden = hiddenWindows_;
        }
        std::vector<AXUIElementRef> windows;
        for (const auto& window : desktop->windowsOf(sim->pid())) {
            if ((window.desktop == 0 || window.desktop == current) &&
                !hidden.contains(window.windowID)) {
                windows.push_back(SimAXElement::window(sim->pid(), window.windowID));
            }
        }
        value = std::move(windows);
        return kAXErrorSuccess;
    }

    auto window = desktop->window(sim->windowID());
    if (!window) {
        return kAXErrorInvalidUIElement;
    }
    {
        std::lock_guard lock(mutex_);
        if (auto it = frameOverrides_.find(window->windowID); it != frameOverrides_.end()) {
            window->frame = it->second;
        }
    }
    if (attribute == AXAttribute::windowNumber) {
        value = static_cast<std::int64_t>(window->windowID);
    } else if (attribute == AXAttribute::position) {
        value = window->frame.origin;
    } else if (attribute == AXAttribute::size) {
        value = window->frame.size;
    } else if (attribute == AXAttribute::fullScreen) {
        value = window->isFullScreen;
    } else {
        return kAXErrorAttributeUnsupported;
    }
    return kAXErrorSuccess;
}

AXError SimAccessibilityService::performAction(const AXUIElementRef& element,
                                               const std::string& action) {
    if (!isTrusted()) {
        return kAXErrorAPIDisabled;
    }
    {
        std::lock_guard lock(mutex_);
        if (auto it = actionFailures_.find(action); it != actionFailures_.end()) {
            AXError code = it->second;
            actionFailures_.erase(it);
            return code;
        }
    }
    const auto* sim = dynamic_cast<const SimAXElement*>(element.get());
    auto desktop = desktop_.lock();
    if (!sim || !desktop) {
        return kAXErrorIllegalArgument;
    }
    if (action != AXAction::raise || sim->kind() != SimAXElement::Kind::window) {
        return kAXErrorActionUnsupported;
    }
    if (!desktop->raise(sim->windowID())) {
        return kAXErrorInvalidUIElement;
    }
    std::lock_guard lock(mutex_);
    raised_.push_back(sim->windowID());
    return kAXErrorSuccess;
}

std::unique_ptr<AXObserver> SimAccessibilityService::createObserver(ProcessID pid,
                                                                    AXObserver::Callback callback,
                                                                    AXError& error) {
    if (!isTrusted()) {
        error = kAXErrorAPIDisabled;
        return nullptr;
    }
    auto desktop = desktop_.lock();
    auto app = desktop ? desktop->app(pid) : nullptr;
    if (!app || app->isTerminated()) {
        error = kAXErrorIllegalArgument;
        return nullptr;
    }
    auto observer = std::make_unique<SimAXObserver>(weak_from_this(), pid, std::move(callback),
                                                    runtime_->mainQueue());
    {
        std::lock_guard lock(mutex_);
        if (observerCreationFailure_) {
            error = *observerCreationFailure_;
            observerCreationFailure_.reset();
            return nullptr;
        }
        std::erase_if(observers_, [](const auto& weak) { return weak.expired(); });
        observers_.push_back(observer->core());
    }
    error = kAXErrorSuccess;
    return observer;
}

void SimAccessibilityService::handleWindowChange(WindowID windowID, SimWindowChange change) {
    const char* notification = nullptr;
    switch (change) {
        case SimWindowChange::moved:
            notification = AXNotification::moved;
            break;
        case SimWindowChange::resized:
            notification = AXNotification::resized;
            break;
        case SimWindowChange::minimized:
            notification = AXNotification::windowMiniaturized;
            break;
        case SimWindowChange::restored:
            notification = AXNotification::windowDeminiaturized;
            break;
        case SimWindowChange::closed:
            notification = AXNotification::uiElementDestroyed;
            break;
        case SimWindowChange::fullScreenChanged:
            // Entering or leaving full screen shows as the move and resize that come with it.
            return;
    }
    std::vector<std::shared_ptr<SimAXObserver::Core>> observers;
    {
        std::lock_guard lock(mutex_);
        if (!deliversNotifications_) {
            return;
        }
        for (const auto& weak : observers_) {
            if (auto core = weak.lock()) {
                observers.push_back(std::move(core));
            }
        }
    }
    for (const auto& core : observers) {
        core->deliver(windowID, notification);
    }
}

void SimAccessibilityService::failNextRead(const std::string& attribute, AXError code, int count) {
    std::lock_guard lock(mutex_);
    if (count > 0) {
        readFailures_[attribute] = InjectedFailure{code, count};
    }
}

void SimAccessibilityService::failReads(const std::string& attribute, AXError code) {
    std::lock_guard lock(mutex_);
    if (code == kAXErrorSuccess) {
        readFailures_.erase(attribute);
    } else {
        readFailures_[attribute] = InjectedFailure{code, -1};
    }
}

void SimAccessibilityService::failNextAction(const std::string& action, AXError code) {
    std::lock_guard lock(mutex_);
    actionFailures_[action] = code;
}

void SimAccessibilityService::failNextObserverCreation(AXError code) {
    std::lock_guard lock(mutex_);
    observerCreationFailure_ = code;
}

void SimAccessibilityService::setWindowElementHidden(WindowID windowID, bool hidden) {
    std::lock_guard lock(mutex_);
    if (hidden) {
        hiddenWindows_.insert(windowID);
    } else {
        hiddenWindows_.erase(windowID);
    }
}

void SimAccessibilityService::setElementFrameOverride(WindowID windowID,
                                                      std::optional<Rect> frame) {
    std::lock_guard lock(mutex_);
    if (frame) {
        frameOverrides_.insert_or_assign(windowID, *frame);
    } else {
        frameOverrides_.erase(windowID);
    }
}

void SimAccessibilityService::setDeliversNotifications(bool delivers) {
    std::lock_guard lock(mutex_);
    deliversNotifications_ = delivers;
}

int SimAccessibilityService::promptCount() const {
    std::lock_guard lock(mutex_);
    return prompts_;
}

std::vector<WindowID> SimAccessibilityService::raisedWindows() const {
    std::lock_guard lock(mutex_);
    return raised_;
}

int SimAccessibilityService::readCount(const std::string& attribute) const {
    std::lock_guard lock(mutex_);
    auto it = readCounts_.find(attribute);
    return it == readCounts_.end() ? 0 : it->second;
}

int SimAccessibilityService::observerCount(ProcessID pid) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& weak : observers_) {
        if (auto core = weak.lock(); core && (pid == 0 || core->pid == pid)) {
            std::lock_guard inner(core->mutex);
            count += core->alive ? 1 : 0;
        }
    }
    return count;
}

}  // namespace tovalo::sim
