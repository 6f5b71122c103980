#include "platform/x11/x11_window_activation.h"

namespace tovalo::x11 {

namespace {

constexpr std::uint32_t kSourcePager = 2;

xcb_void_cookie_t sendRootMessage(Connection& connection, xcb_window_t window, xcb_atom_t type,
                                  std::uint32_t d0, std::uint32_t d1, std::uint32_t d2) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = type;
    message.data.data32[0] = d0;
    message.data.data32[1] = d1;
    message.data.data32[2] = d2;
    return xcb_send_event_checked(
        connection.get(), 0, connection.root(),
        XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
        reinterpret_cast<const char*>(&message));
}

}  // namespace

bool WindowActivation::activate(Connection& connection, xcb_window_t window) {
    auto* c = connection.get();
    // The window must still exist: a request about a dead window would be silently ignored.
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    if (!attributes) {
        return false;
    }
    const xcb_atom_t activeAtom = connection.atom("_NET_ACTIVE_WINDOW");
    const xcb_atom_t restackAtom = connection.atom("_NET_RESTACK_WINDOW");
    auto activate = sendRootMessage(connection, window, activeAtom, kSourcePager, XCB_CURRENT_TIME,
                                    XCB_WINDOW_NONE);
    auto restack = sendRootMessage(connection, window, restackAtom, kSourcePager, XCB_WINDOW_NONE,
                                   XCB_STACK_MODE_ABOVE);
    const bool activated = !connection.check(activate);
    const bool restacked = !connection.check(restack);
    return activated && restacked;
}

}  // namespace tovalo::x11
