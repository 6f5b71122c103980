#pragma once

// One pinned window as the pinned window manager keeps it: the overlay panel, the controller
// capturing the source, and the source window and display as they were when it was pinned.

#include <memory>

#include "capture/capture_types.h"
#include "capture/window_stream_controlling.h"
#include "platform/platform_window.h"

namespace tovalo {

struct PinnedWindowEntry {
    PlatformWindowRef panel;
    std::shared_ptr<WindowStreamControlling> controller;
    SCWindow window;
    SCDisplay display;

    friend bool operator==(const PinnedWindowEntry&, const PinnedWindowEntry&) = default;
};

}  // namespace tovalo
