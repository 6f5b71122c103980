#include "platform/x11/x11_accessibility_service.h"

#include <algorithm>

#include "platform/x11/x11_ax_element.h"
#include "platform/x11/x11_ax_observer.h"
#include "platform/x11/x11_running_application.h"
#include "platform/x11/x11_window_activation.h"

namespace tovalo::x11 {

X11AccessibilityService::X11AccessibilityService(std::shared_ptr<X11EventSource> events,
                                                 std::shared_ptr<const ClientWindowReader> reader,
                                                 std::shared_ptr<DispatchRuntime> runtime)
    : events_(std::move(events)), reader_(std::move(reader)), runtime_(std::move(runtime)) {
    Connection& connection = reader_->connection();
    const auto supported =
        reader_->cardinals(connection.root(), connection.atom("_NET_SUPPORTED"), XCB_ATOM_ATOM);
    const xcb_atom_t hidden = connection.atom("_NET_WM_STATE_HIDDEN");
    // Without a window manager (nothing supported) HIDDEN is still the better guess.
    hasHiddenState_ = !supported || supported->empty() ||
                      std::find(supported->begin(), supported->end(), hidden) != supported->end();
}

bool X11AccessibilityService::isProcessTrusted(bool /*prompt*/) {
    return true;
}

AXUIElementRef X11AccessibilityService::createApplicationElement(ProcessID pid) {
    return X11AXElement::application(pid);
}

bool X11AccessibilityService::windowExists(xcb_window_t window) const {
    auto* c = reader_->connection().get();
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attributes != nullptr;
}

AXError X11AccessibilityService::copyWindows(ProcessID pid, AXValue& value) {
    if (isProcessGone(pid)) {
        return kAXErrorInvalidUIElement;
    }
    const auto windows = reader_->clientWindowsFrontToBack();
    if (!windows) {
        return kAXErrorCannotComplete;
    }
    Connection& connection = reader_->connection();
    const xcb_atom_t pidAtom = connection.atom("_NET_WM_PID");
    const xcb_atom_t desktopAtom = connection.atom("_NET_WM_DESKTOP");
    const auto current = reader_->currentDesktop();
    std::vector<AXUIElementRef> elements;
    for (const auto window : *windows) {
        const auto owner = reader_->cardinals(window, pidAtom, XCB_ATOM_CARDINAL);
        if (!owner || owner->empty() || static_cast<ProcessID>(owner->front()) != pid) {
            continue;
        }
        // Like other desktops' accessibility services: windows of other desktops are not listed.
        const auto desktop = reader_->cardinals(window, desktopAtom, XCB_ATOM_CARDINAL);
        if (current && desktop && !desktop->empty() && desktop->front() != kAllDesktops &&
            desktop->front() != *current) {
            continue;
        }
        elements.push_back(X11AXElement::window(pid, window));
    }
    value = std::move(elements);
    return kAXErrorSuccess;
}

AXError X11AccessibilityService::copyAttributeValue(const AXUIElementRef& element,
                                                    const std::string& attribute, AXValue& value) {
    value = std::monostate{};
    const auto* x11 = dynamic_cast<const X11AXElement*>(element.get());
    if (!x11) {
        return kAXErrorIllegalArgument;
    }
    if (x11->kind() == X11AXElement::Kind::application) {
        if (attribute != AXAttribute::windows) {
            return kAXErrorAttributeUnsupported;
        }
        return copyWindows(x11->pid(), value);
    }
    const xcb_window_t window = x11->window();
    if (attribute == AXAttribute::windowNumber) {
        if (!windowExists(window)) {
            return kAXErrorInvalidUIElement;
        }
        value = static_cast<std::int64_t>(window);
    } else if (attribute == AXAttribute::position || attribute == AXAttribute::size) {
        const auto bounds = reader_->bounds(window);
        if (!bounds) {
            return kAXErrorInvalidUIElement;
        }
        if (attribute == AXAttribute::position) {
            value = bounds->origin;
        } else {
            value = bounds->size;
        }
    } else if (attribute == AXAttribute::fullScreen) {
        if (!windowExists(window)) {
            return kAXErrorInvalidUIElement;
        }
        Connection& connection = reader_->connection();
        const auto states =
            reader_->cardinals(window, connection.atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
        const xcb_atom_t fullScreen = connection.atom("_NET_WM_STATE_FULLSCREEN");
        value = states && std::find(states->begin(), states->end(), fullScreen) != states->end();
    } else {
        return kAXErrorAttributeUnsupported;
    }
    return kAXErrorSuccess;
}

AXError X11AccessibilityService::performAction(const AXUIElementRef& element,
                                               const std::string& action) {
    const auto* x11 = dynamic_cast<const X11AXElement*>(element.get());
    if (!x11) {
        return kAXErrorIllegalArgument;
    }
    if (action != AXAction::raise || x11->kind() != X11AXElement::Kind::window) {
        return kAXErrorActionUnsupported;
    }
    return WindowActivation::activate(reader_->connection(), x11->window())
               ? kAXErrorSuccess
               : kAXErrorInvalidUIElement;
}

std::unique_ptr<AXObserver> X11AccessibilityService::createObserver(ProcessID pid,
                                                                    AXObserver::Callback callback,
                                                                    AXError& error) {
    if (isProcessGone(pid)) {
        error = kAXErrorIllegalArgument;
        return nullptr;
    }
    error = kAXErrorSuccess;
    return std::make_unique<X11AXObserver>(events_, reader_, pid, std::move(callback),
                                           runtime_->mainQueue(), hasHiddenState_);
}

}  // namespace tovalo::x11
