#include "platform/x11/x11_surface_frame.h"

#include <cstring>

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
        xcb_generic_error_t* rawError = nullptr;
        Reply<xcb_get_image_reply_t> reply(
            xcb_get_image_reply(connection,
                                xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap_->id(),
                                              0, 0, static_cast<std::uint16_t>(width()),
                                              static_cast<std::uint16_t>(height()), ~0u),
                                &rawError));
        Reply<xcb_generic_error_t> error(rawError);
        if (!reply || error ||
            static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < bytes) {
            return;
        }
        pixels_.resize(bytes);
        std::memcpy(pixels_.data(), xcb_get_image_data(reply.get()), bytes);
    });
    return pixels_.empty() ? nullptr : pixels_.data();
}

}  // namespace tovalo::x11
