#include "capture/video_layer_presenter.h"

#include <utility>

namespace tovalo {

std::shared_ptr<VideoLayerPresenter> VideoLayerPresenter::create(
    std::shared_ptr<DispatchRuntime> runtime, std::shared_ptr<VideoLayer> layer) {
    return std::shared_ptr<VideoLayerPresenter>(
        new VideoLayerPresenter(std::move(runtime), std::move(layer)));
}

VideoLayerPresenter::VideoLayerPresenter(std::shared_ptr<DispatchRuntime> runtime,
                                         std::shared_ptr<VideoLayer> layer)
    : runtime_(std::move(runtime)), videoLayer_(std::move(layer)) {}

void VideoLayerPresenter::enqueue(const VideoFrameRef& frame) {
    if (!frame || !frame->isValid()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        pending_ = frame;
        if (deliveryScheduled_) {
            return;
        }
        deliveryScheduled_ = true;
    }
    runtime_->mainQueue()->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->deliverPending();
        }
    });
}

void VideoLayerPresenter::deliverPending() {
    VideoFrameRef frame;
    {
        std::lock_guard lock(mutex_);
        frame = std::move(pending_);
        pending_.reset();
        deliveryScheduled_ = false;
    }
    if (frame) {
        videoLayer_->enqueue(frame);
    }
}

void VideoLayerPresenter::flushAndRemoveImage() {
    {
        std::lock_guard lock(mutex_);
        pending_.reset();
    }
    videoLayer_->flushAndRemoveImage();
}

}  // namespace tovalo
