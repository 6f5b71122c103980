#pragma once

// One line of the control interface's window list: a capturable or pinned window as a script
// sees it. A value.

#include <string>

#include "capture/capture_types.h"

namespace tovalo {

struct ControlWindowRow {
    WindowID windowID = 0;
    // Trimmed application name, else its identifier, else "Unknown App".
    std::string appName;
    // Trimmed title, else "Untitled Window".
    std::string title;
    bool isPinned = false;

    friend bool operator==(const ControlWindowRow&, const ControlWindowRow&) = default;
};

}  // namespace tovalo
