#pragma once

// What the window lists need to know beyond the windows themselves: which windows must never be
// listed (the shareable content provider's exclusions) and which are pinned, with the display
// each was pinned on (the pinned window manager's registry). Plain function objects, so the list
// code stays free of those components; the composition root wires them, tests script them.
// Every function must be safe to call from the thread that builds the list.

#include <functional>
#include <optional>

#include "capture/capture_types.h"

namespace tovalo {

struct WindowListContext {
    // True when the window must not be listed. Unset: nothing is excluded.
    std::function<bool(const SCWindow&)> isExcluded;
    // The display a pinned window was pinned on. Unset: no window has one.
    std::function<std::optional<DisplayID>(WindowID)> pinnedDisplayID;
    // Whether the window is pinned right now. Unset: none is.
    std::function<bool(WindowID)> isPinned;
};

}  // namespace tovalo
