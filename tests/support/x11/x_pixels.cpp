#include "support/x11/x_pixels.h"

#include <utility>

namespace tovalo::testing {

std::shared_ptr<const x11::NamedPixmap> makeSplitPixmap(
    const std::shared_ptr<x11::Connection>& connection, std::uint16_t width, std::uint16_t height,
    std::uint32_t left, std::uint32_t right) {
    xcb_connection_t* x = connection->get();
    const xcb_pixmap_t pixmap = xcb_generate_id(x);
    xcb_create_pixmap(x, 24, pixmap, connection->root(), width, height);
    const xcb_gcontext_t gc = xcb_generate_id(x);
    xcb_create_gc(x, gc, pixmap, 0, nullptr);
    const auto half = static_cast<std::uint16_t>(width / 2);
    for (const auto& [colour, x0] :
         {std::pair{left, 0}, std::pair{right, static_cast<int>(half)}}) {
        xcb_change_gc(x, gc, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t area{static_cast<std::int16_t>(x0), 0,
                                   static_cast<std::uint16_t>(width - half), height};
        xcb_poly_fill_rectangle(x, pixmap, gc, 1, &area);
    }
    xcb_free_gc(x, gc);
    // A round trip: the pixmap exists and is drawn before another connection refers to it.
    x11::Reply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr));
    return std::make_shared<const x11::NamedPixmap>(connection, pixmap, width, height, 24,
                                                    connection->screen()->root_visual);
}

std::uint32_t pixelAt(x11::Connection& connection, xcb_drawable_t drawable, int x, int y) {
    xcb_connection_t* c = connection.get();
    x11::Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), 1, 1, ~0u),
        nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < 4) {
        return 0xdeadbeef;
    }
    const std::uint8_t* p = xcb_get_image_data(image.get());
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}

}  // namespace tovalo::testing
