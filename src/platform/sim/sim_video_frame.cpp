#include "platform/sim/sim_video_frame.h"

namespace tovalo::sim {

std::uint32_t SimVideoFrame::fillColour(WindowID windowID, std::uint64_t sequenceNumber) {
    const auto blue = static_cast<std::uint32_t>(sequenceNumber & 0xFF);
    const auto green = static_cast<std::uint32_t>((sequenceNumber >> 8) & 0xFF);
    const auto red = static_cast<std::uint32_t>(windowID & 0xFF);
    return blue | (green << 8) | (red << 16) | (0xFFu << 24);
}

SimVideoFrame::SimVideoFrame(WindowID windowID, std::uint64_t sequenceNumber, std::uint32_t width,
                             std::uint32_t height, TimePoint timestamp, bool valid)
    : windowID_(windowID),
      sequenceNumber_(sequenceNumber),
      width_(width),
      height_(height),
      timestamp_(timestamp),
      valid_(valid),
      pixels_(static_cast<std::size_t>(width) * height * 4) {
    const std::uint32_t colour = fillColour(windowID, sequenceNumber);
    for (std::size_t i = 0; i < pixels_.size(); i += 4) {
        pixels_[i] = static_cast<std::uint8_t>(colour & 0xFF);
        pixels_[i + 1] = static_cast<std::uint8_t>((colour >> 8) & 0xFF);
        pixels_[i + 2] = static_cast<std::uint8_t>((colour >> 16) & 0xFF);
        pixels_[i + 3] = static_cast<std::uint8_t>((colour >> 24) & 0xFF);
    }
}

}  // namespace tovalo::sim
