#pragma once

// Asks the window manager to bring a client window forward, as a pager or task bar does: a
// _NET_ACTIVE_WINDOW request with source indication 2 (switches desktop and restores a
// minimised window as needed) and a _NET_RESTACK_WINDOW request to raise it. Stateless.

#include <xcb/xcb.h>

#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

class WindowActivation {
  public:
    // False when the window does not exist (any more) or the server is gone.
    static bool activate(Connection& connection, xcb_window_t window);
};

}  // namespace tovalo::x11
