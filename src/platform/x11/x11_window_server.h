#pragma once

// The window server's list on X: one record per managed client window, front to back (the
// window manager's stacking order), keyed by the client window's XID. Bounds are the frame as
// the user sees it (without client-side shadow margins), the title is _NET_WM_NAME or WM_NAME,
// the owner is the _NET_WM_PID process named after its desktop entry (else its WM_CLASS), the
// layer follows the window type, alpha the _NET_WM_WINDOW_OPACITY. A window is on screen while
// viewable, on the current desktop (or all desktops) and not minimised. Every window may be
// shared (sharing state 1); memory use is not known on X (0). Thread-safe (the connection's
// requests are); owned by the composition root.

#include <memory>

#include "platform/window_server.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_desktop_entry_index.h"

namespace tovalo::x11 {

class X11WindowServer final : public WindowServer {
  public:
    X11WindowServer(std::shared_ptr<const ClientWindowReader> reader,
                    std::shared_ptr<const DesktopEntryIndex> index);

    // Options as the port defines them:
    // - all (0): every managed window; onScreenOnly: only those on screen;
    // - includingWindow alone: just `relativeToWindow`, whatever its state;
    // - onScreenAboveWindow / onScreenBelowWindow: the on-screen windows in front of / behind
    //   `relativeToWindow` (with includingWindow, that window too); with no relative window,
    //   all on-screen windows;
    // - excludeDesktopElements: windows below layer 0 left out.
    // An unknown relative window gives an empty list; a broken connection nullopt. Windows
    // destroyed while the list is read are left out.
    std::optional<ValueList> copyWindowInfo(WindowListOption options,
                                            WindowID relativeToWindow) override;

    static ValueMap record(const ClientWindowInfo& window, const std::string& ownerName,
                           bool isOnScreen);

  private:
    const std::shared_ptr<const ClientWindowReader> reader_;
    const std::shared_ptr<const DesktopEntryIndex> index_;
};

}  // namespace tovalo::x11
