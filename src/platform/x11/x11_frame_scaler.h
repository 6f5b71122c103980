#pragma once

// Scales a captured 32-bit picture (B, G, R, X bytes) to the pixel size a stream asks for, with
// bilinear filtering (pixman). Used by the capture session only when the sizes differ.

#include <cstddef>
#include <cstdint>

namespace tovalo::x11 {

struct PixelView {
    std::uint8_t* data = nullptr;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::size_t bytesPerRow = 0;
};

// False when pixman cannot wrap the memory (size or stride out of range).
bool scalePixels(const PixelView& source, const PixelView& destination);

}  // namespace tovalo::x11
