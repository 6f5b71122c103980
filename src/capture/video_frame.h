#pragma once

// One captured picture: an immutable, reference-counted BGRA buffer handed from the capture
// service to the video layer without copying. A backend may wrap server-side memory behind it;
// whoever holds the pointer keeps the pixels alive.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/clock.h"

namespace tovalo {

class VideoFrame {
  public:
    virtual ~VideoFrame() = default;

    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;
    // Bytes from one row to the next (at least width * 4).
    virtual std::size_t bytesPerRow() const = 0;
    // Pixels in B, G, R, A byte order, bytesPerRow() * height() bytes; alpha may be unused.
    virtual const std::uint8_t* data() const = 0;
    // When the service produced the frame, on the runtime's clock.
    virtual TimePoint timestamp() const = 0;
    // False for a frame the service marks as carrying no complete picture.
    virtual bool isValid() const = 0;
};

using VideoFrameRef = std::shared_ptr<const VideoFrame>;

}  // namespace tovalo
