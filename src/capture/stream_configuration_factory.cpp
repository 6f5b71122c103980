#include "capture/stream_configuration_factory.h"

#include <cmath>
#include <limits>

namespace tovalo {

std::uint32_t StreamConfigurationFactory::pixelLength(double points, double scale) {
    const double pixels = std::round(points * scale);
    if (!std::isfinite(pixels) || pixels <= 0) {
        return 0;
    }
    constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
    if (pixels >= static_cast<double>(kMax)) {
        return kMax;
    }
    return static_cast<std::uint32_t>(pixels);
}

SCStreamConfiguration StreamConfigurationFactory::make(double width, double height, double scale) {
    SCStreamConfiguration configuration;
    configuration.pixelFormat = PixelFormat::bgra;
    configuration.colorSpace = ColorSpace::sRGB;
    configuration.showsCursor = false;
    configuration.minimumFrameInterval = minimumFrameInterval;
    configuration.width = pixelLength(width, scale);
    configuration.height = pixelLength(height, scale);
    return configuration;
}

}  // namespace tovalo
