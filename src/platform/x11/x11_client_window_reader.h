#pragma once

// Reads what the window manager and the clients publish about top-level client windows: the
// managed windows in stacking order, each window's frame (the window manager's top-level
// window around it), its bounds as the user sees it (the frame without client-side shadow
// margins), title, owner pid, type, state, desktop and class. Every read tolerates windows that
// vanish meanwhile: a window that is gone reads as nullopt, never as an X error. Stateless apart
// from the shared connection, so usable from any thread; the window server, the accessibility
// service, the screens and the workspace each hold one.

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "capture/capture_types.h"
#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

// _NET_WM_DESKTOP of a window shown on every desktop.
inline constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

// Window layers by window type: normal, dialog and utility windows share layer 0; desktop
// elements lie below it, docks, menus, notifications and tooltips above.
namespace WindowLayer {
inline constexpr int desktop = -2147483623;
inline constexpr int normal = 0;
inline constexpr int dock = 20;
inline constexpr int notification = 23;
inline constexpr int menu = 101;
inline constexpr int tooltip = 102;
}  // namespace WindowLayer

struct ClientWindowInfo {
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_window_t frame = XCB_WINDOW_NONE;
    // Frame geometry without _GTK_FRAME_EXTENTS, in root (top-left origin) pixels.
    Rect bounds;
    std::optional<std::string> title;  // _NET_WM_NAME, else WM_NAME
    ProcessID pid = 0;                 // 0 when the client does not say
    int layer = WindowLayer::normal;
    double alpha = 1.0;
    std::optional<std::uint32_t> desktop;
    bool viewable = false;
    bool hidden = false;                   // _NET_WM_STATE_HIDDEN
    bool fullScreen = false;               // _NET_WM_STATE_FULLSCREEN
    std::optional<std::uint32_t> wmState;  // ICCCM WM_STATE: 0 withdrawn, 1 normal, 3 iconic
    std::string wmClassInstance;
    std::string wmClassClass;
    std::string gtkApplicationID;  // _GTK_APPLICATION_ID
    std::string kdeDesktopFile;    // _KDE_NET_WM_DESKTOP_FILE

    // Viewable, on the current desktop (or on all) and not minimised.
    bool isOnScreen(std::optional<std::uint32_t> currentDesktop) const;
};

class ClientWindowReader {
  public:
    explicit ClientWindowReader(std::shared_ptr<Connection> connection);

    Connection& connection() const { return *connection_; }

    // The managed client windows, front to back (_NET_CLIENT_LIST_STACKING, else
    // _NET_CLIENT_LIST); empty without a window manager; nullopt when the server is gone.
    std::optional<std::vector<xcb_window_t>> clientWindowsFrontToBack() const;
    std::optional<std::uint32_t> currentDesktop() const;
    xcb_window_t activeWindow() const;

    // Everything above about one client window; nullopt when it does not exist (any more).
    std::optional<ClientWindowInfo> read(xcb_window_t window) const;
    // Only the bounds (fewer requests); nullopt when the window is gone.
    std::optional<Rect> bounds(xcb_window_t window) const;
    // The window manager's top-level window holding `window` (the window itself when it is
    // not reparented); nullopt when it is gone.
    std::optional<xcb_window_t> frameOf(xcb_window_t window) const;

    // A 32-bit property as numbers; nullopt when absent, of another format, or the window is gone.
    std::optional<std::vector<std::uint32_t>> cardinals(xcb_window_t window, xcb_atom_t property,
                                                        xcb_atom_t type = XCB_ATOM_ANY) const;
    // _NET_WM_ICON: the largest image not above `maxSide` pixels (else the smallest), as
    // width, height and non-premultiplied ARGB pixels; nullopt without an icon.
    struct Icon {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::vector<std::uint32_t> argb;
    };
    std::optional<Icon> icon(xcb_window_t window, std::uint32_t maxSide = 256) const;

    // The layer of a window of these _NET_WM_WINDOW_TYPE atoms.
    int layerFor(const std::vector<std::uint32_t>& windowTypes) const;

  private:
    std::optional<Rect> frameBounds(xcb_window_t frame,
                                    const std::vector<std::uint32_t>& extents) const;

    const std::shared_ptr<Connection> connection_;
};

// Text of a property value: UTF-8 as is (made valid), Latin-1 (STRING) converted.
std::string propertyText(const char* data, std::size_t length, bool isLatin1);

}  // namespace tovalo::x11
