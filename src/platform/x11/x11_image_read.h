#pragma once

// Reads a drawable's pixels over the X protocol (no shared memory): 32-bit Z-pixmap rows, packed.

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>

namespace tovalo::x11 {

// Copies `width` × `height` pixels of `drawable` into `into` (at least width * height * 4
// bytes); false when the server refuses or answers short.
bool readZPixmap(xcb_connection_t* connection, xcb_drawable_t drawable, std::uint16_t width,
                 std::uint16_t height, std::uint8_t* into);

}  // namespace tovalo::x11
