#include "platform/x11/x11_named_pixmap.h"

namespace tovalo::x11 {

NamedPixmap::NamedPixmap(std::shared_ptr<Connection> connection, xcb_pixmap_t pixmap,
                         std::uint32_t width, std::uint32_t height, std::uint8_t depth,
                         xcb_visualid_t visual)
    : connection_(std::move(connection)),
      pixmap_(pixmap),
      width_(width),
      height_(height),
      depth_(depth),
      visual_(visual) {}

NamedPixmap::~NamedPixmap() {
    // A named pixmap stays valid after its window is gone, so freeing it cannot fail; unchecked
    // keeps a frame dropped on the main thread from waiting for the server.
    xcb_free_pixmap(connection_->get(), pixmap_);
    xcb_flush(connection_->get());
}

}  // namespace tovalo::x11
