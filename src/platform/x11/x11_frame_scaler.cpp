#include "platform/x11/x11_frame_scaler.h"

#include <pixman.h>

#include <limits>
#include <memory>

namespace tovalo::x11 {
namespace {

struct ImageDeleter {
    void operator()(pixman_image_t* image) const noexcept { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, ImageDeleter>;

Image wrap(const PixelView& view) {
    constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    if (view.data == nullptr || view.width == 0 || view.height == 0 || view.bytesPerRow > kMax ||
        view.width > kMax || view.height > kMax || view.bytesPerRow % 4 != 0) {
        return nullptr;
    }
    return Image(pixman_image_create_bits(
        PIXMAN_x8r8g8b8, static_cast<int>(view.width), static_cast<int>(view.height),
        reinterpret_cast<std::uint32_t*>(view.data), static_cast<int>(view.bytesPerRow)));
}

}  // namespace

bool scalePixels(const PixelView& source, const PixelView& destination) {
    Image from = wrap(source);
    Image to = wrap(destination);
    if (!from || !to) {
        return false;
    }
    // The transform maps destination pixels to source pixels.
    pixman_transform_t transform;
    pixman_transform_init_scale(
        &transform, pixman_double_to_fixed(static_cast<double>(source.width) / destination.width),
        pixman_double_to_fixed(static_cast<double>(source.height) / destination.height));
    pixman_image_set_transform(from.get(), &transform);
    pixman_image_set_filter(from.get(), PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(from.get(), PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0,
                             static_cast<int>(destination.width),
                             static_cast<int>(destination.height));
    return true;
}

}  // namespace tovalo::x11
