#pragma once

// What the control interface's "status" reports about the running program. A value.

#include <string>
#include <vector>

#include "capture/capture_types.h"

namespace tovalo {

struct ControlStatus {
    // The program's short version, "?" when unknown.
    std::string version;
    // The pinned windows, in ascending ID order; their count is the number pinned.
    std::vector<WindowID> pinnedWindowIDs;

    friend bool operator==(const ControlStatus&, const ControlStatus&) = default;
};

}  // namespace tovalo
