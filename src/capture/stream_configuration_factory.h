#pragma once

// Builds the capture configuration of one window session: BGRA pixels in sRGB, no cursor, at
// most 60 frames a second, sized in pixels from the picture's size in points and the backing
// scale. Stateless; used by the stream session handler before every start.

#include <cstdint>

#include "base/clock.h"
#include "capture/capture_service.h"

namespace tovalo {

class StreamConfigurationFactory {
  public:
    // At most 60 frames a second.
    static constexpr Duration minimumFrameInterval = seconds(1.0 / 60.0);

    // points × scale rounded to the nearest integer, halves away from zero (100.25 × 2 -> 201).
    // Results that are not finite or below zero give 0; results too large saturate.
    static std::uint32_t pixelLength(double points, double scale);

    // The configuration for a picture of width × height points at `scale`. Values not named
    // above keep the capture service's defaults.
    static SCStreamConfiguration make(double width, double height, double scale);
};

}  // namespace tovalo
