#pragma once

// Port: the surface an overlay shows live frames on. It shows the latest frame it was given,
// scaled to fit with its aspect kept, over a clear background, until it is flushed. The Qt
// backend draws into the overlay panel; the simulated desktop records what it was given.
// Touched only on the main thread.

#include <memory>

#include "capture/video_frame.h"

namespace tovalo {

class VideoLayer {
  public:
    virtual ~VideoLayer() = default;

    // Shows `frame` from now on.
    virtual void enqueue(const VideoFrameRef& frame) = 0;
    // Drops the picture shown, so no stale frame remains visible.
    virtual void flushAndRemoveImage() = 0;
};

class VideoLayerFactory {
  public:
    virtual ~VideoLayerFactory() = default;
    // A new, empty layer. Main thread.
    virtual std::shared_ptr<VideoLayer> makeVideoLayer() = 0;
};

}  // namespace tovalo
