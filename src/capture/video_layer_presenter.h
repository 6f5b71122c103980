#pragma once

// Feeds one video layer from the capture thread: frames may be handed over from any thread and
// reach the layer on the main queue. The layer shows only the latest frame, so frames that
// arrive while one is still waiting for the main queue replace it instead of queueing behind
// it; a slow main thread therefore never builds up a backlog of pictures. Owned by its stream
// controller.

#include <memory>
#include <mutex>

#include "base/dispatch_runtime.h"
#include "capture/video_frame.h"
#include "capture/video_layer.h"

namespace tovalo {

class VideoLayerPresenter : public std::enable_shared_from_this<VideoLayerPresenter> {
  public:
    static std::shared_ptr<VideoLayerPresenter> create(std::shared_ptr<DispatchRuntime> runtime,
                                                       std::shared_ptr<VideoLayer> layer);

    VideoLayerPresenter(const VideoLayerPresenter&) = delete;
    VideoLayerPresenter& operator=(const VideoLayerPresenter&) = delete;

    const std::shared_ptr<VideoLayer>& videoLayer() const { return videoLayer_; }

    // Any thread. Invalid frames are ignored.
    void enqueue(const VideoFrameRef& frame);
    // Main thread: drops the shown picture and any frame still on its way.
    void flushAndRemoveImage();

  private:
    VideoLayerPresenter(std::shared_ptr<DispatchRuntime> runtime,
                        std::shared_ptr<VideoLayer> layer);
    void deliverPending();

    const std::shared_ptr<DispatchRuntime> runtime_;
    const std::shared_ptr<VideoLayer> videoLayer_;

    std::mutex mutex_;
    VideoFrameRef pending_;
    bool deliveryScheduled_ = false;
};

}  // namespace tovalo
