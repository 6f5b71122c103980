#include "platform/x11/x11_client_window_reader.h"

#include <algorithm>

#include "base/utf8.h"

namespace tovalo::x11 {

namespace {

using PropertyReply = Reply<xcb_get_property_reply_t>;

xcb_get_property_cookie_t requestProperty(xcb_connection_t* c, xcb_window_t window,
                                          xcb_atom_t property, xcb_atom_t type,
                                          std::uint32_t longLength = 1024) {
    return xcb_get_property(c, 0, window, property, type, 0, longLength);
}

PropertyReply takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    PropertyReply reply(xcb_get_property_reply(c, cookie, &error));
    std::free(error);
    // Absent, or present with another type than asked for (then only its size is told).
    if (reply &&
        (reply->type == XCB_ATOM_NONE || (reply->value_len == 0 && reply->bytes_after > 0))) {
        return nullptr;
    }
    return reply;
}

std::vector<std::uint32_t> numbersOf(const PropertyReply& reply) {
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / 4;
    return {values, values + count};
}

std::optional<std::string> textOf(const PropertyReply& reply, bool isLatin1) {
    if (!reply || reply->format != 8) {
        return std::nullopt;
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    return propertyText(data, length, isLatin1);
}

bool contains(const std::vector<std::uint32_t>& values, xcb_atom_t atom) {
    return atom != XCB_ATOM_NONE && std::find(values.begin(), values.end(), atom) != values.end();
}

}  // namespace

std::string propertyText(const char* data, std::size_t length, bool isLatin1) {
    std::string_view raw(data, length);
    // Lists of strings are NUL-separated; a title is the first one.
    raw = raw.substr(0, raw.find('\0'));
    if (!isLatin1) {
        return sanitizeUtf8(raw);
    }
    std::string text;
    for (const char ch : raw) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x80) {
            text.push_back(ch);
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

bool ClientWindowInfo::isOnScreen(std::optional<std::uint32_t> currentDesktop) const {
    const bool onCurrentDesktop =
        !desktop || !currentDesktop || *desktop == kAllDesktops || *desktop == *currentDesktop;
    return viewable && onCurrentDesktop && !hidden;
}

ClientWindowReader::ClientWindowReader(std::shared_ptr<Connection> connection)
    : connection_(std::move(connection)) {}

std::optional<std::vector<std::uint32_t>> ClientWindowReader::cardinals(xcb_window_t window,
                                                                        xcb_atom_t property,
                                                                        xcb_atom_t type) const {
    auto* c = connection_->get();
    auto reply = takeProperty(c, requestProperty(c, window, property, type));
    if (!reply || reply->format != 32) {
        return std::nullopt;
    }
    return numbersOf(reply);
}

std::optional<std::vector<xcb_window_t>> ClientWindowReader::clientWindowsFrontToBack() const {
    if (connection_->hasFailed()) {
        return std::nullopt;
    }
    const xcb_window_t root = connection_->root();
    auto stacking =
        cardinals(root, connection_->atom("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
    if (stacking) {
        // Published bottom to top.
        std::reverse(stacking->begin(), stacking->end());
        return stacking;
    }
    auto list = cardinals(root, connection_->atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW);
    if (connection_->hasFailed()) {
        return std::nullopt;
    }
    return list ? *list : std::vector<xcb_window_t>{};
}

std::optional<std::uint32_t> ClientWindowReader::currentDesktop() const {
    auto value = cardinals(connection_->root(), connection_->atom("_NET_CURRENT_DESKTOP"),
                           XCB_ATOM_CARDINAL);
    if (!value || value->empty()) {
        return std::nullopt;
    }
    return value->front();
}

xcb_window_t ClientWindowReader::activeWindow() const {
    auto value =
        cardinals(connection_->root(), connection_->atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW);
    return value && !value->empty() ? value->front() : xcb_window_t{XCB_WINDOW_NONE};
}

std::optional<xcb_window_t> ClientWindowReader::frameOf(xcb_window_t window) const {
    auto* c = connection_->get();
    const xcb_window_t root = connection_->root();
    xcb_window_t current = window;
    // Reparenting window managers nest a client one or two levels below the root.
    for (int depth = 0; depth < 16; ++depth) {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr));
        if (!tree) {
            return std::nullopt;
        }
        if (current == root || tree->parent == root || tree->parent == XCB_WINDOW_NONE) {
            return current;
        }
        current = tree->parent;
    }
    return current;
}

std::optional<Rect> ClientWindowReader::frameBounds(
    xcb_window_t frame, const std::vector<std::uint32_t>& extents) const {
    auto* c = connection_->get();
    auto geometryCookie = xcb_get_geometry(c, frame);
    auto originCookie = xcb_translate_coordinates(c, frame, connection_->root(), 0, 0);
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, originCookie, nullptr));
    if (!geometry || !origin) {
        return std::nullopt;
    }
    Rect rect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    if (extents.size() == 4) {
        // left, right, top, bottom: the client draws its own shadow there.
        const double left = extents[0];
        const double right = extents[1];
        const double top = extents[2];
        const double bottom = extents[3];
        if (left + right < rect.size.width && top + bottom < rect.size.height) {
            rect = Rect(rect.origin.x + left, rect.origin.y + top, rect.size.width - left - right,
                        rect.size.height - top - bottom);
        }
    }
    return rect;
}

std::optional<Rect> ClientWindowReader::bounds(xcb_window_t window) const {
    auto* c = connection_->get();
    auto extentsCookie =
        requestProperty(c, window, connection_->atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    auto extents = numbersOf(takeProperty(c, extentsCookie));
    const auto frame = frameOf(window);
    if (!frame) {
        return std::nullopt;
    }
    return frameBounds(*frame, extents);
}

int ClientWindowReader::layerFor(const std::vector<std::uint32_t>& windowTypes) const {
    struct Mapping {
        const char* atom;
        int layer;
    };
    static constexpr Mapping kMappings[] = {
        {"_NET_WM_WINDOW_TYPE_NORMAL", WindowLayer::normal},
        {"_NET_WM_WINDOW_TYPE_DIALOG", WindowLayer::normal},
        {"_NET_WM_WINDOW_TYPE_UTILITY", WindowLayer::normal},
        {"_NET_WM_WINDOW_TYPE_TOOLBAR", WindowLayer::normal},
        {"_NET_WM_WINDOW_TYPE_SPLASH", WindowLayer::normal},
        {"_NET_WM_WINDOW_TYPE_DESKTOP", WindowLayer::desktop},
        {"_NET_WM_WINDOW_TYPE_DOCK", WindowLayer::dock},
        {"_NET_WM_WINDOW_TYPE_NOTIFICATION", WindowLayer::notification},
        {"_NET_WM_WINDOW_TYPE_MENU", WindowLayer::menu},
        {"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", WindowLayer::menu},
        {"_NET_WM_WINDOW_TYPE_POPUP_MENU", WindowLayer::menu},
        {"_NET_WM_WINDOW_TYPE_COMBO", WindowLayer::menu},
        {"_NET_WM_WINDOW_TYPE_TOOLTIP", WindowLayer::tooltip},
        {"_NET_WM_WINDOW_TYPE_DND", WindowLayer::tooltip},
    };
    // The list is in order of preference: the first type known decides.
    for (const auto type : windowTypes) {
        for (const auto& mapping : kMappings) {
            if (connection_->atom(mapping.atom) == type) {
                return mapping.layer;
            }
        }
    }
    return WindowLayer::normal;
}

std::optional<ClientWindowInfo> ClientWindowReader::read(xcb_window_t window) const {
    auto* c = connection_->get();
    Connection& x = *connection_;
    const xcb_atom_t utf8 = x.atom("UTF8_STRING");
    auto attributesCookie = xcb_get_window_attributes(c, window);
    auto netNameCookie = requestProperty(c, window, x.atom("_NET_WM_NAME"), utf8);
    auto nameCookie = requestProperty(c, window, XCB_ATOM_WM_NAME, XCB_ATOM_ANY);
    auto pidCookie = requestProperty(c, window, x.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 1);
    auto typeCookie = requestProperty(c, window, x.atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM);
    const xcb_atom_t opacityAtom = x.atom("_NET_WM_WINDOW_OPACITY");
    auto opacityCookie = requestProperty(c, window, opacityAtom, XCB_ATOM_CARDINAL, 1);
    auto desktopCookie =
        requestProperty(c, window, x.atom("_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 1);
    auto stateCookie = requestProperty(c, window, x.atom("_NET_WM_STATE"), XCB_ATOM_ATOM);
    auto wmStateCookie = requestProperty(c, window, x.atom("WM_STATE"), XCB_ATOM_ANY, 2);
    auto extentsCookie =
        requestProperty(c, window, x.atom("_GTK_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 4);
    auto classCookie = requestProperty(c, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    auto gtkIDCookie = requestProperty(c, window, x.atom("_GTK_APPLICATION_ID"), XCB_ATOM_ANY);
    auto kdeCookie = requestProperty(c, window, x.atom("_KDE_NET_WM_DESKTOP_FILE"), XCB_ATOM_ANY);

    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, attributesCookie, nullptr));
    auto netName = takeProperty(c, netNameCookie);
    auto name = takeProperty(c, nameCookie);
    auto pid = numbersOf(takeProperty(c, pidCookie));
    auto types = numbersOf(takeProperty(c, typeCookie));
    auto opacity = numbersOf(takeProperty(c, opacityCookie));
    auto desktop = numbersOf(takeProperty(c, desktopCookie));
    auto states = numbersOf(takeProperty(c, stateCookie));
    auto wmState = numbersOf(takeProperty(c, wmStateCookie));
    auto extents = numbersOf(takeProperty(c, extentsCookie));
    auto wmClass = takeProperty(c, classCookie);
    auto gtkID = takeProperty(c, gtkIDCookie);
    auto kde = takeProperty(c, kdeCookie);
    if (!attributes) {
        return std::nullopt;
    }

    ClientWindowInfo info;
    info.window = window;
    if (auto title = textOf(netName, false)) {
        info.title = std::move(title);
    } else if (name) {
        info.title = textOf(name, name->type == XCB_ATOM_STRING);
    }
    if (!pid.empty()) {
        info.pid = static_cast<ProcessID>(pid.front());
    }
    info.layer = layerFor(types);
    if (!desktop.empty()) {
        info.desktop = desktop.front();
    }
    info.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    info.hidden = contains(states, x.atom("_NET_WM_STATE_HIDDEN"));
    info.fullScreen = contains(states, x.atom("_NET_WM_STATE_FULLSCREEN"));
    if (!wmState.empty()) {
        info.wmState = wmState.front();
    }
    if (wmClass && wmClass->format == 8) {
        const auto* data = static_cast<const char*>(xcb_get_property_value(wmClass.get()));
        const auto length = static_cast<std::size_t>(xcb_get_property_value_length(wmClass.get()));
        const std::string_view both(data, length);
        const auto split = both.find('\0');
        info.wmClassInstance = propertyText(data, length, true);
        if (split != std::string_view::npos) {
            info.wmClassClass = propertyText(data + split + 1, length - split - 1, true);
        }
    }
    info.gtkApplicationID = textOf(gtkID, false).value_or("");
    info.kdeDesktopFile = textOf(kde, false).value_or("");

    const auto frame = frameOf(window);
    if (!frame) {
        return std::nullopt;
    }
    info.frame = *frame;
    if (opacity.empty() && *frame != window) {
        // Compositing window managers copy the client's opacity to the frame.
        opacity = cardinals(*frame, opacityAtom, XCB_ATOM_CARDINAL).value_or(opacity);
    }
    if (!opacity.empty()) {
        info.alpha = static_cast<double>(opacity.front()) / 4294967295.0;
    }
    const auto bounds = frameBounds(*frame, extents);
    if (!bounds) {
        return std::nullopt;
    }
    info.bounds = *bounds;
    return info;
}

std::optional<ClientWindowReader::Icon> ClientWindowReader::icon(xcb_window_t window,
                                                                 std::uint32_t maxSide) const {
    auto* c = connection_->get();
    // Icons can be large: up to 4 MB of pixels.
    auto reply = takeProperty(c, requestProperty(c, window, connection_->atom("_NET_WM_ICON"),
                                                 XCB_ATOM_CARDINAL, 1024 * 1024));
    const auto values = numbersOf(reply);
    std::optional<Icon> best;
    std::size_t at = 0;
    while (at + 2 <= values.size()) {
        const std::uint32_t width = values[at];
        const std::uint32_t height = values[at + 1];
        const std::size_t count = static_cast<std::size_t>(width) * height;
        if (width == 0 || height == 0 || count > values.size() - at - 2) {
            break;
        }
        const bool fits = width <= maxSide && height <= maxSide;
        const bool better = !best || (fits && (best->width > maxSide || width > best->width)) ||
                            (!fits && best->width > maxSide && width < best->width);
        if (better) {
            Icon candidate;
            candidate.width = width;
            candidate.height = height;
            const auto first = values.begin() + static_cast<std::ptrdiff_t>(at + 2);
            candidate.argb.assign(first, first + static_cast<std::ptrdiff_t>(count));
            best = std::move(candidate);
        }
        at += 2 + count;
    }
    return best;
}

}  // namespace tovalo::x11
