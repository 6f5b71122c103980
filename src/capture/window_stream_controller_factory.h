#pragma once

// Makes the per-window stream controller that the pinned window manager owns for each pinned
// window. The composition root passes the real one; tests pass a recording fake.

#include <memory>

#include "capture/pinned_window_directory.h"
#include "capture/window_stream_controlling.h"

namespace tovalo {

class WindowStreamControllerFactory {
  public:
    virtual ~WindowStreamControllerFactory() = default;

    // A new idle controller; capture is not started. `pinnedWindows` is the manager asking,
    // held weakly by the controller.
    virtual std::shared_ptr<WindowStreamControlling> makeController(
        std::weak_ptr<PinnedWindowDirectory> pinnedWindows) = 0;
};

}  // namespace tovalo
