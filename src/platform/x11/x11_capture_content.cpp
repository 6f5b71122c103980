#include "platform/x11/x11_capture_content.h"

#include "platform/x11/x11_randr_monitors.h"

#include <xcb/randr.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace tovalo::x11 {
namespace {

Reply<xcb_get_property_reply_t> property(Connection& connection, xcb_window_t window,
                                         xcb_atom_t name, xcb_atom_t type, std::uint32_t words) {
    return Reply<xcb_get_property_reply_t>(xcb_get_property_reply(
        connection.get(), xcb_get_property(connection.get(), 0, window, name, type, 0, words),
        nullptr));
}

std::vector<std::uint32_t> cardinals(Connection& connection, xcb_window_t window, xcb_atom_t name,
                                     xcb_atom_t type) {
    auto reply = property(connection, window, name, type, 4096);
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / 4;
    return std::vector<std::uint32_t>(values, values + count);
}

std::optional<std::string> text(Connection& connection, xcb_window_t window, xcb_atom_t name,
                                xcb_atom_t type) {
    auto reply = property(connection, window, name, type, 1024);
    if (!reply || reply->type == XCB_NONE || reply->format != 8) {
        return std::nullopt;
    }
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

xcb_window_t topLevelOf(Connection& connection, xcb_window_t window) {
    for (int depth = 0; depth < 64; ++depth) {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
            connection.get(), xcb_query_tree(connection.get(), window), nullptr));
        if (!tree) {
            return XCB_NONE;
        }
        if (tree->parent == tree->root || tree->parent == XCB_NONE) {
            return window;
        }
        window = tree->parent;
    }
    return XCB_NONE;
}

// The same monitors, with the same identifiers, as the screens port reports.
std::vector<SCDisplay> readDisplays(Connection& connection) {
    std::vector<SCDisplay> displays;
    for (const Monitor& monitor : RandrMonitors::read(connection)) {
        displays.push_back(SCDisplay{monitor.id, monitor.frame,
                                     static_cast<std::uint32_t>(monitor.frame.width()),
                                     static_cast<std::uint32_t>(monitor.frame.height())});
    }
    return displays;
}

}  // namespace

SCShareableContent readShareableContent(Connection& connection, bool excludingDesktopWindows,
                                        bool onScreenWindowsOnly) {
    SCShareableContent content;
    content.displays = readDisplays(connection);
    const xcb_window_t root = connection.root();
    std::vector<std::uint32_t> clients =
        cardinals(connection, root, connection.atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (clients.empty()) {
        clients = cardinals(connection, root, connection.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    }
    // Stacking order is bottom to top; the content lists front to back.
    std::reverse(clients.begin(), clients.end());
    const xcb_atom_t utf8 = connection.atom("UTF8_STRING");
    const xcb_atom_t desktopType = connection.atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    const xcb_atom_t hidden = connection.atom("_NET_WM_STATE_HIDDEN");
    for (const xcb_window_t client : clients) {
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection.get(), xcb_get_window_attributes(connection.get(), client), nullptr));
        const xcb_window_t frame = topLevelOf(connection, client);
        if (!attributes || frame == XCB_NONE) {
            continue;  // gone while we read
        }
        const auto types =
            cardinals(connection, client, connection.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM);
        if (excludingDesktopWindows &&
            std::find(types.begin(), types.end(), desktopType) != types.end()) {
            continue;
        }
        const auto states =
            cardinals(connection, client, connection.atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
        const bool onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
                              std::find(states.begin(), states.end(), hidden) == states.end();
        if (onScreenWindowsOnly && !onScreen) {
            continue;
        }
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
            connection.get(), xcb_get_geometry(connection.get(), frame), nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
            connection.get(), xcb_translate_coordinates(connection.get(), frame, root, 0, 0),
            nullptr));
        if (!geometry || !origin) {
            continue;
        }
        SCWindow window;
        window.windowID = client;
        window.frame =
            Rect(origin->dst_x, origin->dst_y, geometry->width + 2.0 * geometry->border_width,
                 geometry->height + 2.0 * geometry->border_width);
        window.title = text(connection, client, connection.atom("_NET_WM_NAME"), utf8);
        if (!window.title) {
            window.title = text(connection, client, XCB_ATOM_WM_NAME, XCB_ATOM_ANY);
        }
        window.isOnScreen = onScreen;
        const auto pid =
            cardinals(connection, client, connection.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
        // WM_CLASS holds the instance and the class, each ending in a NUL.
        const auto wmClass = text(connection, client, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
        if (wmClass || !pid.empty()) {
            std::string className;
            if (wmClass) {
                const auto split = wmClass->find('\0');
                if (split != std::string::npos) {
                    className = wmClass->substr(split + 1);
                    className = className.substr(0, className.find('\0'));
                }
            }
            window.owningApplication = SCRunningApplication{
                className, className, pid.empty() ? 0 : static_cast<ProcessID>(pid.front())};
        }
        content.windows.push_back(std::move(window));
    }
    return content;
}

}  // namespace tovalo::x11
