#pragma once

// Who owns a client window as an application: its desktop-file id (the bundle-identifier
// analogue) and display name, resolved from the window's _GTK_APPLICATION_ID, then
// _KDE_NET_WM_DESKTOP_FILE, then WM_CLASS matched against the installed desktop entries, else
// the WM_CLASS class itself. A value computed on demand.

#include <optional>
#include <string>

#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_desktop_entry_index.h"

namespace tovalo::x11 {

struct ApplicationIdentity {
    std::string desktopID;  // may be empty (a window without any class)
    std::string name;       // the entry's Name, else the WM_CLASS class
    std::optional<DesktopEntry> entry;

    static ApplicationIdentity resolve(const ClientWindowInfo& window,
                                       const DesktopEntryIndex& index);
};

}  // namespace tovalo::x11
