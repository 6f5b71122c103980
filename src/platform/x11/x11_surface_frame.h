#pragma once

// A frame that stays on the X server: the source window's named pixmap as it is when drawn.
// Whoever can draw with the server (the overlay, through XRender) composites it there and never
// moves the pixels through this process; anyone else gets them read from the server the first
// time data() is asked for (once, then kept; the picture is the window as it was at that moment,
// which may be newer than the timestamp). Opaque B, G, R, X bytes like every captured frame.
// Immutable apart from that one lazy read; any thread.

#include <memory>
#include <mutex>
#include <vector>

#include "capture/video_frame.h"
#include "platform/x11/x11_named_pixmap.h"

namespace tovalo::x11 {

class SurfaceFrame final : public VideoFrame {
  public:
    SurfaceFrame(std::shared_ptr<const NamedPixmap> pixmap, TimePoint timestamp);

    std::uint32_t width() const override { return pixmap_->width(); }
    std::uint32_t height() const override { return pixmap_->height(); }
    std::size_t bytesPerRow() const override { return static_cast<std::size_t>(width()) * 4; }
    // Reads the pixels on first use (a round trip to the server); nullptr when that failed.
    const std::uint8_t* data() const override;
    TimePoint timestamp() const override { return timestamp_; }
    bool isValid() const override { return true; }

    const std::shared_ptr<const NamedPixmap>& pixmap() const { return pixmap_; }

  private:
    const std::shared_ptr<const NamedPixmap> pixmap_;
    const TimePoint timestamp_;
    mutable std::once_flag readOnce_;
    mutable std::vector<std::uint8_t> pixels_;
};

}  // namespace tovalo::x11
