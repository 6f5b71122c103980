#include "platform/sim/sim_ax_observer.h"

#include <algorithm>

#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_ax_element.h"

namespace tovalo::sim {

namespace {

bool isKnownNotification(const std::string& notification) {
    return notification == AXNotification::moved || notification == AXNotification::resized ||
           notification == AXNotification::uiElementDestroyed ||
           notification == AXNotification::windowMiniaturized ||
           notification == AXNotification::windowDeminiaturized;
}

}  // namespace

void SimAXObserver::Core::deliver(WindowID windowID, const std::string& notification) {
    std::vector<AXUIElementRef> elements;
    {
        std::lock_guard lock(mutex);
        if (!alive || !attached) {
            return;
        }
        for (const auto& registration : registrations) {
            const auto* element = dynamic_cast<const SimAXElement*>(registration.element.get());
            if (element && element->kind() == SimAXElement::Kind::window &&
                element->windowID() == windowID && registration.notification == notification) {
                elements.push_back(registration.element);
            }
        }
    }
    std::weak_ptr<Core> weak = weak_from_this();
    for (auto& element : elements) {
        mainQueue->async([weak, element, notification] {
            auto core = weak.lock();
            if (!core) {
                return;
            }
            Callback handler;
            {
                std::lock_guard lock(core->mutex);
                if (!core->alive || !core->attached) {
                    return;
                }
                handler = core->callback;
            }
            if (handler) {
                handler(element, notification);
            }
        });
    }
}

SimAXObserver::SimAXObserver(std::weak_ptr<SimAccessibilityService> service, ProcessID pid,
                             Callback callback, std::shared_ptr<DispatchQueue> mainQueue)
    : service_(std::move(service)), core_(std::make_shared<Core>()) {
    core_->pid = pid;
    core_->callback = std::move(callback);
    core_->mainQueue = std::move(mainQueue);
}

SimAXObserver::~SimAXObserver() {
    std::lock_guard lock(core_->mutex);
    core_->alive = false;
    core_->registrations.clear();
}

AXError SimAXObserver::addNotification(const AXUIElementRef& element,
                                       const std::string& notification) {
    auto service = service_.lock();
    if (!service) {
        return kAXErrorCannotComplete;
    }
    if (!service->isTrusted()) {
        return kAXErrorAPIDisabled;
    }
    const auto* sim = dynamic_cast<const SimAXElement*>(element.get());
    if (!sim || sim->pid() != core_->pid) {
        return kAXErrorIllegalArgument;
    }
    if (!isKnownNotification(notification)) {
        return kAXErrorNotificationUnsupported;
    }
    if (sim->kind() == SimAXElement::Kind::window && !service->windowExists(sim->windowID())) {
        return kAXErrorInvalidUIElement;
    }
    std::lock_guard lock(core_->mutex);
    for (const auto& registration : core_->registrations) {
        if (registration.notification == notification &&
            registration.element->isSameElement(*element)) {
            return kAXErrorNotificationAlreadyRegistered;
        }
    }
    core_->registrations.push_back(Core::Registration{element, notification});
    return kAXErrorSuccess;
}

AXError SimAXObserver::removeNotification(const AXUIElementRef& element,
                                          const std::string& notification) {
    if (auto service = service_.lock(); service && !service->isTrusted()) {
        return kAXErrorAPIDisabled;
    }
    if (!element) {
        return kAXErrorIllegalArgument;
    }
    std::lock_guard lock(core_->mutex);
    auto it = std::find_if(core_->registrations.begin(), core_->registrations.end(),
                           [&](const Core::Registration& registration) {
                               return registration.notification == notification &&
                                      registration.element->isSameElement(*element);
                           });
    if (it == core_->registrations.end()) {
        return kAXErrorNotificationNotRegistered;
    }
    core_->registrations.erase(it);
    return kAXErrorSuccess;
}

void SimAXObserver::attachToMainRunLoop() {
    std::lock_guard lock(core_->mutex);
    core_->attached = true;
}

void SimAXObserver::detachFromMainRunLoop() {
    std::lock_guard lock(core_->mutex);
    core_->attached = false;
}

bool SimAXObserver::isAttached() const {
    std::lock_guard lock(core_->mutex);
    return core_->attached;
}

int SimAXObserver::registrationCount() const {
    std::lock_guard lock(core_->mutex);
    return static_cast<int>(core_->registrations.size());
}

}  // namespace tovalo::sim
