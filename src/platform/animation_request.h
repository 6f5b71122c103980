#pragma once

// One animated change of a value the interface shows (an overlay's video opacity): where it goes,
// how long it takes and how it eases. The core hands requests to the window that shows the value;
// the backend plays them.

#include "base/clock.h"

namespace tovalo {

enum class AnimationCurve { linear, easeIn, easeOut, easeInOut };

struct AnimationRequest {
    double targetValue = 0;
    Duration duration{};
    AnimationCurve curve = AnimationCurve::easeOut;

    friend bool operator==(const AnimationRequest&, const AnimationRequest&) = default;
};

}  // namespace tovalo
