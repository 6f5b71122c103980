#pragma once

// Reads what can be captured from the X server for the capture service: the displays (RandR
// monitors, primary first) and the client windows (_NET_CLIENT_LIST_STACKING, front to back)
// with their frame, title, pid and owning application as far as the window's own properties
// tell (the application is named after its WM_CLASS class; matching desktop files is left to
// the window-server reader). Runs on the capture service's thread, on its connection.

#include "capture/capture_types.h"
#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

SCShareableContent readShareableContent(Connection& connection, bool excludingDesktopWindows,
                                        bool onScreenWindowsOnly);

}  // namespace tovalo::x11
