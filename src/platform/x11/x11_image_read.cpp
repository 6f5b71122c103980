#include "platform/x11/x11_image_read.h"

#include <cstring>

#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

bool readZPixmap(xcb_connection_t* connection, xcb_drawable_t drawable, std::uint16_t width,
                 std::uint16_t height, std::uint8_t* into) {
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
    xcb_generic_error_t* rawError = nullptr;
    Reply<xcb_get_image_reply_t> reply(xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, 0, 0, width, height, ~0u),
        &rawError));
    Reply<xcb_generic_error_t> error(rawError);
    if (!reply || error ||
        static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) < bytes) {
        return false;
    }
    std::memcpy(into, xcb_get_image_data(reply.get()), bytes);
    return true;
}

}  // namespace tovalo::x11
