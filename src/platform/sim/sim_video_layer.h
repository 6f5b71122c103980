#pragma once

// A video layer that remembers what it shows: the latest frame, how many frames it was given
// and how often it was flushed. It also notes any call made off the main thread, which would be
// a fault in the caller.

#include <atomic>
#include <memory>
#include <vector>

#include "base/dispatch_runtime.h"
#include "capture/video_layer.h"

namespace tovalo::sim {

class SimVideoLayer final : public VideoLayer {
  public:
    explicit SimVideoLayer(std::shared_ptr<DispatchRuntime> runtime)
        : runtime_(std::move(runtime)) {}

    void enqueue(const VideoFrameRef& frame) override;
    void flushAndRemoveImage() override;

    // Main thread.
    const VideoFrameRef& shownFrame() const { return shown_; }
    int enqueuedCount() const { return enqueued_; }
    int flushCount() const { return flushes_; }
    // Any thread.
    int callsOffMainThread() const { return offMain_.load(); }

  private:
    void noteThread();

    std::shared_ptr<DispatchRuntime> runtime_;
    VideoFrameRef shown_;
    int enqueued_ = 0;
    int flushes_ = 0;
    std::atomic<int> offMain_{0};
};

class SimVideoLayerFactory final : public VideoLayerFactory {
  public:
    explicit SimVideoLayerFactory(std::shared_ptr<DispatchRuntime> runtime)
        : runtime_(std::move(runtime)) {}

    std::shared_ptr<VideoLayer> makeVideoLayer() override;

    // Every layer made, oldest first.
    const std::vector<std::shared_ptr<SimVideoLayer>>& made() const { return made_; }

  private:
    std::shared_ptr<DispatchRuntime> runtime_;
    std::vector<std::shared_ptr<SimVideoLayer>> made_;
};

}  // namespace tovalo::sim
