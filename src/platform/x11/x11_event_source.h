#pragma once

// Hands the events of the main-thread X connection to whoever asked for them: per window (with
// the event mask each subscriber needs, combined per window) or for every event. The main loop
// calls processPendingEvents() whenever the connection's file descriptor is readable, and also
// before it blocks, because waiting for a reply makes xcb read and queue events without the
// descriptor staying readable. X errors that arrive as events (from unchecked requests that
// raced with a window's destruction) go to the error subscribers and are otherwise dropped.
// Used on the main thread only; owned by the composition root (tests build their own).

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "base/subscription.h"
#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

class X11EventSource : public std::enable_shared_from_this<X11EventSource> {
  public:
    using Handler = std::function<void(const xcb_generic_event_t& event)>;
    using ErrorHandler = std::function<void(const ProtocolError& error)>;

    static std::shared_ptr<X11EventSource> make(std::shared_ptr<Connection> connection);
    ~X11EventSource();
    X11EventSource(const X11EventSource&) = delete;
    X11EventSource& operator=(const X11EventSource&) = delete;

    const std::shared_ptr<Connection>& connection() const { return connection_; }

    // Delivers the events that concern `window` (see windowOf) after selecting `eventMask` on it
    // in addition to what other subscribers of that window selected. Fails with the protocol
    // error when the window does not exist (any more); the subscription is then inactive.
    Subscription subscribe(xcb_window_t window, std::uint32_t eventMask, Handler handler,
                           std::optional<ProtocolError>* error = nullptr);
    // Every event, whatever its window (extension events such as DAMAGE included).
    Subscription subscribeAll(Handler handler);
    Subscription subscribeErrors(ErrorHandler handler);

    // Dispatches every event xcb has read or can read without blocking. Returns how many.
    std::size_t processPendingEvents();

    // The window an event is about: the window whose state changed for structure events (for
    // ConfigureNotify, DestroyNotify, MapNotify, UnmapNotify, ReparentNotify the `window` field,
    // which is the subscribed window itself or, with substructure masks, its child), the window
    // of PropertyNotify, ClientMessage, Expose, focus and pointer events. XCB_WINDOW_NONE for
    // events without one.
    static xcb_window_t windowOf(const xcb_generic_event_t& event);

  private:
    struct Slot {
        Handler handler;
        bool active = true;
    };
    struct Entry {
        std::uint64_t id = 0;
        std::uint32_t mask = 0;
        std::shared_ptr<Slot> slot;
    };

    explicit X11EventSource(std::shared_ptr<Connection> connection);
    void unsubscribe(xcb_window_t window, std::uint64_t id);
    std::uint32_t combinedMask(xcb_window_t window) const;
    void dispatch(const xcb_generic_event_t& event);

    const std::shared_ptr<Connection> connection_;
    std::uint64_t nextID_ = 1;
    std::map<xcb_window_t, std::vector<Entry>> byWindow_;
    std::map<std::uint64_t, std::shared_ptr<Slot>> all_;
    std::map<std::uint64_t, std::shared_ptr<ErrorHandler>> errors_;
};

}  // namespace tovalo::x11
