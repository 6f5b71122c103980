#pragma once

// What a stream controller needs to know of the pinned windows: whether a window has a live
// overlay (then a second capture of it is an error, not a stale session to replace) and where
// to keep the still picture of its first frame. The pinned window manager implements it; the
// controller holds it weakly. Main thread.

#include "capture/capture_types.h"
#include "capture/window_snapshot_details.h"

namespace tovalo {

class PinnedWindowDirectory {
  public:
    virtual ~PinnedWindowDirectory() = default;
    virtual bool isPinned(WindowID windowID) const = 0;
    virtual void storeCachedSnapshot(WindowID windowID, WindowSnapshotDetails snapshot) = 0;
};

}  // namespace tovalo
