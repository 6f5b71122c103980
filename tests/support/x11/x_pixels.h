#pragma once

// Pictures on a test's X server: a two-coloured pixmap to draw from, and single pixels read back.

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_named_pixmap.h"

namespace tovalo::testing {

// A depth-24 pixmap of the root's visual: left half `left`, right half `right` (0xRRGGBB); drawn
// on the server by the time it returns, so any connection may use it.
std::shared_ptr<const x11::NamedPixmap> makeSplitPixmap(
    const std::shared_ptr<x11::Connection>& connection, std::uint16_t width, std::uint16_t height,
    std::uint32_t left, std::uint32_t right);

// 0xRRGGBB of one pixel of `drawable`; 0xdeadbeef when it cannot be read.
std::uint32_t pixelAt(x11::Connection& connection, xcb_drawable_t drawable, int x, int y);

}  // namespace tovalo::testing
