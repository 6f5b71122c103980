#pragma once

// The capture-service error codes the X11 capture service reports, in the capture service's
// error domain (the same codes the simulated service uses), and the errors it builds from them.

#include <cstdint>
#include <string>

#include "capture/capture_service.h"

namespace tovalo::x11 {

// A start of a stream that is already running.
inline constexpr std::int64_t kCaptureErrorAttemptToStartStreamState = -3807;
// An output added twice, or removed without being added.
inline constexpr std::int64_t kCaptureErrorInvalidParameter = kSCStreamErrorInvalidParameter;
// The captured window is gone, or the X server is.
inline constexpr std::int64_t kCaptureErrorNoCaptureSource = -3815;

inline Error captureError(std::int64_t code, std::string description) {
    return Error{kSCStreamErrorDomain, code, std::move(description)};
}

}  // namespace tovalo::x11
