#pragma once

// One captured picture held in a buffer of a FramePool: B, G, R, X bytes (the X byte is not
// alpha; the picture is opaque). The buffer goes back to its pool when the last reference to the
// frame goes, on whichever thread drops it. Made by the capture session; shared with consumers.

#include <memory>

#include "capture/video_frame.h"
#include "platform/x11/x11_frame_pool.h"

namespace tovalo::x11 {

class FrameImage final : public VideoFrame {
  public:
    FrameImage(std::shared_ptr<FramePool> pool, std::unique_ptr<ShmSegment> buffer,
               std::uint32_t width, std::uint32_t height, TimePoint timestamp);
    ~FrameImage() override;
    FrameImage(const FrameImage&) = delete;
    FrameImage& operator=(const FrameImage&) = delete;

    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    std::size_t bytesPerRow() const override { return static_cast<std::size_t>(width_) * 4; }
    const std::uint8_t* data() const override { return buffer_->data(); }
    TimePoint timestamp() const override { return timestamp_; }
    bool isValid() const override { return true; }

  private:
    std::shared_ptr<FramePool> pool_;
    std::unique_ptr<ShmSegment> buffer_;
    std::uint32_t width_;
    std::uint32_t height_;
    TimePoint timestamp_;
};

}  // namespace tovalo::x11
