#include "platform/x11/x11_surface_frame.h"

#include "platform/x11/x11_image_read.h"

namespace tovalo::x11 {

SurfaceFrame::SurfaceFrame(std::shared_ptr<const NamedPixmap> pixmap, TimePoint timestamp)
    : pixmap_(std::move(pixmap)), timestamp_(timestamp) {}

const std::uint8_t* SurfaceFrame::data() const {
    std::call_once(readOnce_, [this] {
        xcb_connection_t* connection = pixmap_->connection()->get();
        const std::size_t bytes = bytesPerRow() * height();
        // Depths other than 24 and 32 are never named for capture; a pixmap beyond the protocol's
        // 16-bit sizes cannot exist.
        if ((pixmap_->depth() != 24 && pixmap_->depth() != 32) || width() > 0xffff ||
            height() > 0xffff || bytes == 0) {
            return;
        }
        pixels_.resize(bytes);
        if (!readZPixmap(connection, pixmap_->id(), static_cast<std::uint16_t>(width()),
                         static_cast<std::uint16_t>(height()), pixels_.data())) {
            pixels_.clear();
        }
    });
    return pixels_.empty() ? nullptr : pixels_.data();
}

}  // namespace tovalo::x11
