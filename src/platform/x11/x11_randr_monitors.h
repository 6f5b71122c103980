#pragma once

// The displays of the X screen as RandR monitors: id, frame in root coordinates (top-left
// origin, pixels), name and whether it is the primary one. The id is the XID of the monitor's
// first output (stable while the server runs), else its name atom. Without RandR 1.5 the whole
// root window is one monitor named after the screen, with the root's XID as id. Stateless;
// used by the screens port and by whoever lists displays for capture.

#include <string>
#include <vector>

#include "base/geometry.h"
#include "capture/capture_types.h"
#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

struct Monitor {
    DisplayID id = 0;
    Rect frame;
    std::string name;
    bool primary = false;

    friend bool operator==(const Monitor&, const Monitor&) = default;
};

class RandrMonitors {
  public:
    // The primary monitor first, the others in the server's order. Empty only when the
    // server is gone.
    static std::vector<Monitor> read(Connection& connection);
};

}  // namespace tovalo::x11
