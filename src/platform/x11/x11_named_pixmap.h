#pragma once

// A window's off-screen picture named on the server (XComposite): it keeps the content the
// window had while it was shown at this size, and lives until the last holder lets it go, then
// is freed on the connection that named it (from whichever thread drops it). The capture target
// names a new one after every resize or map; frames still in flight keep the old one alive, so
// whoever draws from it never meets a freed pixmap.

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

#include "platform/x11/x11_connection.h"

namespace tovalo::x11 {

class NamedPixmap {
  public:
    NamedPixmap(std::shared_ptr<Connection> connection, xcb_pixmap_t pixmap, std::uint32_t width,
                std::uint32_t height, std::uint8_t depth, xcb_visualid_t visual);
    ~NamedPixmap();
    NamedPixmap(const NamedPixmap&) = delete;
    NamedPixmap& operator=(const NamedPixmap&) = delete;

    xcb_pixmap_t id() const { return pixmap_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    std::uint8_t depth() const { return depth_; }
    // The visual of the window it was named from (decides how its pixels read as colours).
    xcb_visualid_t visual() const { return visual_; }
    const std::shared_ptr<Connection>& connection() const { return connection_; }

  private:
    const std::shared_ptr<Connection> connection_;
    const xcb_pixmap_t pixmap_;
    const std::uint32_t width_;
    const std::uint32_t height_;
    const std::uint8_t depth_;
    const xcb_visualid_t visual_;
};

}  // namespace tovalo::x11
