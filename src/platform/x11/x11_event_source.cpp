#include "platform/x11/x11_event_source.h"

#include <algorithm>

namespace tovalo::x11 {

namespace {

// The window a structure event was selected on and the window it reports, in that order.
std::pair<xcb_window_t, xcb_window_t> structureWindows(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7f) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
            return {e.event, e.window};
        }
        case XCB_DESTROY_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
            return {e.event, e.window};
        }
        case XCB_MAP_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(event);
            return {e.event, e.window};
        }
        case XCB_UNMAP_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
            return {e.event, e.window};
        }
        case XCB_REPARENT_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
            return {e.event, e.window};
        }
        case XCB_CREATE_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_create_notify_event_t&>(event);
            return {e.parent, e.window};
        }
        case XCB_GRAVITY_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_gravity_notify_event_t&>(event);
            return {e.event, e.window};
        }
        case XCB_CIRCULATE_NOTIFY: {
            const auto& e = reinterpret_cast<const xcb_circulate_notify_event_t&>(event);
            return {e.event, e.window};
        }
        default:
            return {XCB_WINDOW_NONE, XCB_WINDOW_NONE};
    }
}

}  // namespace

std::shared_ptr<X11EventSource> X11EventSource::make(std::shared_ptr<Connection> connection) {
    return std::shared_ptr<X11EventSource>(new X11EventSource(std::move(connection)));
}

X11EventSource::X11EventSource(std::shared_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

X11EventSource::~X11EventSource() = default;

xcb_window_t X11EventSource::windowOf(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY:
            return reinterpret_cast<const xcb_property_notify_event_t&>(event).window;
        case XCB_CLIENT_MESSAGE:
            return reinterpret_cast<const xcb_client_message_event_t&>(event).window;
        case XCB_EXPOSE:
            return reinterpret_cast<const xcb_expose_event_t&>(event).window;
        case XCB_FOCUS_IN:
        case XCB_FOCUS_OUT:
            return reinterpret_cast<const xcb_focus_in_event_t&>(event).event;
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE:
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE:
        case XCB_MOTION_NOTIFY:
            return reinterpret_cast<const xcb_key_press_event_t&>(event).event;
        case XCB_ENTER_NOTIFY:
        case XCB_LEAVE_NOTIFY:
            return reinterpret_cast<const xcb_enter_notify_event_t&>(event).event;
        default:
            return structureWindows(event).second;
    }
}

Subscription X11EventSource::subscribe(xcb_window_t window, std::uint32_t eventMask,
                                       Handler handler, std::optional<ProtocolError>* error) {
    const std::uint64_t id = nextID_++;
    auto& entries = byWindow_[window];
    entries.push_back(Entry{id, eventMask, std::make_shared<Slot>(Slot{std::move(handler), true})});
    const std::uint32_t mask = combinedMask(window);
    // Checked: subscribing races with the window's destruction.
    auto failure = connection_->check(
        xcb_change_window_attributes_checked(connection_->get(), window, XCB_CW_EVENT_MASK, &mask));
    if (error) {
        *error = failure;
    }
    if (failure) {
        // Nothing to undo on the server: the window is gone.
        auto& list = byWindow_[window];
        std::erase_if(list, [id](const Entry& entry) { return entry.id == id; });
        if (list.empty()) {
            byWindow_.erase(window);
        }
        return Subscription();
    }
    std::weak_ptr<X11EventSource> weak = weak_from_this();
    return Subscription([weak, window, id] {
        if (auto self = weak.lock()) {
            self->unsubscribe(window, id);
        }
    });
}

Subscription X11EventSource::subscribeAll(Handler handler) {
    const std::uint64_t id = nextID_++;
    all_.emplace(id, std::make_shared<Slot>(Slot{std::move(handler), true}));
    std::weak_ptr<X11EventSource> weak = weak_from_this();
    return Subscription([weak, id] {
        if (auto self = weak.lock()) {
            if (auto it = self->all_.find(id); it != self->all_.end()) {
                it->second->active = false;
                self->all_.erase(it);
            }
        }
    });
}

Subscription X11EventSource::subscribeErrors(ErrorHandler handler) {
    const std::uint64_t id = nextID_++;
    errors_.emplace(id, std::make_shared<ErrorHandler>(std::move(handler)));
    std::weak_ptr<X11EventSource> weak = weak_from_this();
    return Subscription([weak, id] {
        if (auto self = weak.lock()) {
            self->errors_.erase(id);
        }
    });
}

std::uint32_t X11EventSource::combinedMask(xcb_window_t window) const {
    std::uint32_t mask = 0;
    if (auto it = byWindow_.find(window); it != byWindow_.end()) {
        for (const auto& entry : it->second) {
            mask |= entry.mask;
        }
    }
    return mask;
}

void X11EventSource::unsubscribe(xcb_window_t window, std::uint64_t id) {
    auto it = byWindow_.find(window);
    if (it == byWindow_.end()) {
        return;
    }
    const std::uint32_t before = combinedMask(window);
    std::erase_if(it->second, [id](const Entry& entry) {
        if (entry.id != id) {
            return false;
        }
        entry.slot->active = false;
        return true;
    });
    if (it->second.empty()) {
        byWindow_.erase(it);
    }
    const std::uint32_t after = combinedMask(window);
    if (after != before && !connection_->hasFailed()) {
        // Unchecked: a window already gone answers BadWindow as an event, which lands in
        // dispatch() like any other late error.
        xcb_change_window_attributes(connection_->get(), window, XCB_CW_EVENT_MASK, &after);
        connection_->flush();
    }
}

std::size_t X11EventSource::processPendingEvents() {
    std::size_t count = 0;
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection_->get())}) {
        ++count;
        dispatch(*event);
    }
    return count;
}

void X11EventSource::dispatch(const xcb_generic_event_t& event) {
    if (event.response_type == 0) {
        const auto& e = reinterpret_cast<const xcb_generic_error_t&>(event);
        const ProtocolError error{e.error_code, e.major_code, e.minor_code, e.resource_id};
        std::vector<std::shared_ptr<ErrorHandler>> handlers;
        for (const auto& [id, handler] : errors_) {
            handlers.push_back(handler);
        }
        for (const auto& handler : handlers) {
            (*handler)(error);
        }
        return;
    }
    // Copies first: a handler may subscribe or unsubscribe while it runs.
    std::vector<std::shared_ptr<Slot>> handlers;
    auto [selected, reported] = structureWindows(event);
    if (selected == XCB_WINDOW_NONE) {
        selected = windowOf(event);
    }
    for (const xcb_window_t window : {selected, reported}) {
        if (window == XCB_WINDOW_NONE) {
            continue;
        }
        if (auto it = byWindow_.find(window); it != byWindow_.end()) {
            for (const auto& entry : it->second) {
                if (std::find(handlers.begin(), handlers.end(), entry.slot) == handlers.end()) {
                    handlers.push_back(entry.slot);
                }
            }
        }
    }
    for (const auto& [id, handler] : all_) {
        handlers.push_back(handler);
    }
    for (const auto& slot : handlers) {
        // An earlier handler of this event may have unsubscribed a later one.
        if (slot->active) {
            slot->handler(event);
        }
    }
}

}  // namespace tovalo::x11
