#include "platform/x11/x11_ax_observer.h"

#include <algorithm>

#include "platform/x11/x11_ax_element.h"

namespace tovalo::x11 {

namespace {

bool isKnownNotification(const std::string& notification) {
    return notification == AXNotification::moved || notification == AXNotification::resized ||
           notification == AXNotification::uiElementDestroyed ||
           notification == AXNotification::windowMiniaturized ||
           notification == AXNotification::windowDeminiaturized;
}

constexpr std::uint32_t kWMStateWithdrawn = 0;
constexpr std::uint32_t kWMStateIconic = 3;

}  // namespace

struct X11AXObserver::Core : std::enable_shared_from_this<Core> {
    struct Watched {
        AXUIElementRef element;
        std::set<std::string> notifications;
        xcb_window_t frame = XCB_WINDOW_NONE;
        Subscription clientEvents;
        Subscription frameEvents;
        std::optional<Rect> bounds;
        bool minimized = false;
        bool destroyed = false;
    };

    std::shared_ptr<X11EventSource> events;
    std::shared_ptr<const ClientWindowReader> reader;
    ProcessID pid = 0;
    Callback callback;
    std::shared_ptr<DispatchQueue> mainQueue;
    bool hasHiddenState = true;
    bool alive = true;
    bool attached = false;
    std::map<xcb_window_t, Watched> windows;

    bool isMinimized(xcb_window_t window) const {
        Connection& connection = reader->connection();
        if (hasHiddenState) {
            const auto states =
                reader->cardinals(window, connection.atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
            const xcb_atom_t hidden = connection.atom("_NET_WM_STATE_HIDDEN");
            return states && std::find(states->begin(), states->end(), hidden) != states->end();
        }
        const auto state = reader->cardinals(window, connection.atom("WM_STATE"));
        return state && !state->empty() && state->front() == kWMStateIconic;
    }

    bool subscribeFrame(xcb_window_t window, Watched& watched) {
        watched.frameEvents.reset();
        const auto frame = reader->frameOf(window);
        if (!frame) {
            return false;
        }
        watched.frame = *frame;
        if (*frame == window) {
            return true;
        }
        std::weak_ptr<Core> weak = weak_from_this();
        std::optional<ProtocolError> error;
        watched.frameEvents = events->subscribe(
            *frame, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
            [weak, window](const xcb_generic_event_t& event) {
                if (auto core = weak.lock()) {
                    core->handleFrameEvent(window, event);
                }
            },
            &error);
        return !error;
    }

    AXError watch(xcb_window_t window, const AXUIElementRef& element) {
        Watched watched;
        watched.element = element;
        std::weak_ptr<Core> weak = weak_from_this();
        std::optional<ProtocolError> error;
        // Selected before the state is read, so no change falls in between.
        watched.clientEvents = events->subscribe(
            window, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE,
            [weak, window](const xcb_generic_event_t& event) {
                if (auto core = weak.lock()) {
                    core->handleClientEvent(window, event);
                }
            },
            &error);
        if (error || !subscribeFrame(window, watched)) {
            return kAXErrorInvalidUIElement;
        }
        watched.bounds = reader->bounds(window);
        if (!watched.bounds) {
            return kAXErrorInvalidUIElement;
        }
        watched.minimized = isMinimized(window);
        windows.emplace(window, std::move(watched));
        return kAXErrorSuccess;
    }

    void deliver(xcb_window_t window, const char* notification) {
        auto it = windows.find(window);
        if (!alive || !attached || it == windows.end() ||
            !it->second.notifications.contains(notification)) {
            return;
        }
        std::weak_ptr<Core> weak = weak_from_this();
        mainQueue->async([weak, element = it->second.element, name = std::string(notification)] {
            auto core = weak.lock();
            if (!core || !core->alive || !core->attached || !core->callback) {
                return;
            }
            // A copy: the callback may destroy the observer.
            auto handler = core->callback;
            handler(element, name);
        });
    }

    void checkBounds(xcb_window_t window) {
        auto it = windows.find(window);
        if (it == windows.end() || it->second.destroyed) {
            return;
        }
        const auto bounds = reader->bounds(window);
        if (!bounds) {
            return;  // going away: DestroyNotify follows
        }
        const auto old = it->second.bounds;
        it->second.bounds = bounds;
        if (!old || old->origin != bounds->origin) {
            deliver(window, AXNotification::moved);
        }
        if (!old || old->size != bounds->size) {
            deliver(window, AXNotification::resized);
        }
    }

    void destroyed(xcb_window_t window) {
        auto it = windows.find(window);
        if (it == windows.end() || it->second.destroyed) {
            return;
        }
        it->second.destroyed = true;
        it->second.frameEvents.reset();
        deliver(window, AXNotification::uiElementDestroyed);
    }

    void handleFrameEvent(xcb_window_t window, const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
            checkBounds(window);
        }
    }

    void handleClientEvent(xcb_window_t window, const xcb_generic_event_t& event) {
        switch (event.response_type & 0x7f) {
            case XCB_CONFIGURE_NOTIFY:
                checkBounds(window);
                break;
            case XCB_DESTROY_NOTIFY:
                if (reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == window) {
                    destroyed(window);
                }
                break;
            case XCB_REPARENT_NOTIFY: {
                // A new window manager framed it anew.
                auto it = windows.find(window);
                if (it != windows.end() && !it->second.destroyed) {
                    subscribeFrame(window, it->second);
                    checkBounds(window);
                }
                break;
            }
            case XCB_PROPERTY_NOTIFY:
                handleProperty(window, reinterpret_cast<const xcb_property_notify_event_t&>(event));
                break;
            default:
                break;
        }
    }

    void handleProperty(xcb_window_t window, const xcb_property_notify_event_t& event) {
        Connection& connection = reader->connection();
        const xcb_atom_t wmState = connection.atom("WM_STATE");
        if (event.atom != wmState && event.atom != connection.atom("_NET_WM_STATE")) {
            return;
        }
        auto it = windows.find(window);
        if (it == windows.end() || it->second.destroyed) {
            return;
        }
        if (event.atom == wmState) {
            const auto state = reader->cardinals(window, wmState);
            if (event.state == XCB_PROPERTY_DELETE ||
                (state && !state->empty() && state->front() == kWMStateWithdrawn)) {
                destroyed(window);
                return;
            }
        }
        const bool minimized = isMinimized(window);
        if (minimized != it->second.minimized) {
            it->second.minimized = minimized;
            deliver(window, minimized ? AXNotification::windowMiniaturized
                                      : AXNotification::windowDeminiaturized);
        }
    }
};

X11AXObserver::X11AXObserver(std::shared_ptr<X11EventSource> events,
                             std::shared_ptr<const ClientWindowReader> reader, ProcessID pid,
                             Callback callback, std::shared_ptr<DispatchQueue> mainQueue,
                             bool windowManagerHasHiddenState)
    : core_(std::make_shared<Core>()) {
    core_->events = std::move(events);
    core_->reader = std::move(reader);
    core_->pid = pid;
    core_->callback = std::move(callback);
    core_->mainQueue = std::move(mainQueue);
    core_->hasHiddenState = windowManagerHasHiddenState;
}

X11AXObserver::~X11AXObserver() {
    core_->alive = false;
    core_->windows.clear();
}

ProcessID X11AXObserver::pid() const {
    return core_->pid;
}

std::size_t X11AXObserver::watchedWindowCount() const {
    return core_->windows.size();
}

AXError X11AXObserver::addNotification(const AXUIElementRef& element,
                                       const std::string& notification) {
    const auto* x11 = dynamic_cast<const X11AXElement*>(element.get());
    if (!x11 || x11->pid() != core_->pid) {
        return kAXErrorIllegalArgument;
    }
    if (!isKnownNotification(notification)) {
        return kAXErrorNotificationUnsupported;
    }
    if (x11->kind() != X11AXElement::Kind::window) {
        // Application-wide notifications are not offered on X.
        return kAXErrorNotificationUnsupported;
    }
    auto it = core_->windows.find(x11->window());
    if (it == core_->windows.end()) {
        if (const AXError error = core_->watch(x11->window(), element); error != kAXErrorSuccess) {
            return error;
        }
        it = core_->windows.find(x11->window());
    } else if (it->second.destroyed) {
        return kAXErrorInvalidUIElement;
    }
    if (!it->second.notifications.insert(notification).second) {
        return kAXErrorNotificationAlreadyRegistered;
    }
    return kAXErrorSuccess;
}

AXError X11AXObserver::removeNotification(const AXUIElementRef& element,
                                          const std::string& notification) {
    const auto* x11 = dynamic_cast<const X11AXElement*>(element.get());
    if (!x11) {
        return kAXErrorIllegalArgument;
    }
    auto it = core_->windows.find(x11->window());
    if (it == core_->windows.end() || it->second.notifications.erase(notification) == 0) {
        return kAXErrorNotificationNotRegistered;
    }
    if (it->second.notifications.empty()) {
        core_->windows.erase(it);
    }
    return kAXErrorSuccess;
}

void X11AXObserver::attachToMainRunLoop() {
    core_->attached = true;
}

void X11AXObserver::detachFromMainRunLoop() {
    core_->attached = false;
}

}  // namespace tovalo::x11
