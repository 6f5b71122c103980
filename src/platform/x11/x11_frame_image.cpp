#include "platform/x11/x11_frame_image.h"

namespace tovalo::x11 {

FrameImage::FrameImage(std::shared_ptr<FramePool> pool, std::unique_ptr<ShmSegment> buffer,
                       std::uint32_t width, std::uint32_t height, TimePoint timestamp)
    : pool_(std::move(pool)),
      buffer_(std::move(buffer)),
      width_(width),
      height_(height),
      timestamp_(timestamp) {}

FrameImage::~FrameImage() {
    pool_->giveBack(std::move(buffer_));
}

}  // namespace tovalo::x11
