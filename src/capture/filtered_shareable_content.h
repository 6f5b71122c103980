#pragma once

// The capturable displays and windows of one refresh, as the shareable content provider hands
// them to the window lists, the thumbnail screen and the capture code. A value; both lists keep
// the capture service's order.

#include <vector>

#include "capture/capture_types.h"

namespace tovalo {

struct FilteredShareableContent {
    std::vector<SCDisplay> displays;
    // The windows that may be offered and captured, excluded applications left out.
    std::vector<SCWindow> windows;

    friend bool operator==(const FilteredShareableContent&,
                           const FilteredShareableContent&) = default;
};

}  // namespace tovalo
