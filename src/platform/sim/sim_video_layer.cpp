#include "platform/sim/sim_video_layer.h"

namespace tovalo::sim {

void SimVideoLayer::noteThread() {
    if (!runtime_->isMainThread()) {
        offMain_.fetch_add(1);
    }
}

void SimVideoLayer::enqueue(const VideoFrameRef& frame) {
    noteThread();
    shown_ = frame;
    ++enqueued_;
}

void SimVideoLayer::flushAndRemoveImage() {
    noteThread();
    shown_.reset();
    ++flushes_;
}

std::shared_ptr<VideoLayer> SimVideoLayerFactory::makeVideoLayer() {
    made_.push_back(std::make_shared<SimVideoLayer>(runtime_));
    return made_.back();
}

}  // namespace tovalo::sim
