#pragma once

// Makes the per-window stream controller that the pinned window manager owns for each pinned
// window. The composition root passes the real one; tests pass a recording fake.

#include <memory>

#include "capture/window_stream_controlling.h"

namespace tovalo {

class WindowStreamControllerFactory {
  public:
    virtual ~WindowStreamControllerFactory() = default;

    // A new idle controller; capture is not started.
    virtual std::shared_ptr<WindowStreamControlling> makeController() = 0;
};

}  // namespace tovalo
