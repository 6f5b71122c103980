#pragma once

// What the window picker offers: the capturable windows followed by the excluded ones, and which
// of them are excluded (shown, but never pinned). A value made by the shareable content provider.

#include <set>
#include <vector>

#include "capture/capture_types.h"

namespace tovalo {

struct PickerShareableContent {
    std::vector<SCDisplay> displays;
    // Capturable windows, then excluded windows; each group in the capture service's order.
    std::vector<SCWindow> windows;
    std::set<WindowID> excludedWindowIDs;

    friend bool operator==(const PickerShareableContent&, const PickerShareableContent&) = default;
};

}  // namespace tovalo
