#pragma once

// A synthetic captured picture: a BGRA buffer filled with one colour that encodes the frame's
// sequence number (blue = low byte, green = high byte) and the captured window (red = low byte
// of its ID), so a test can tell frames apart by their pixels as well as by their accessors.

#include <cstdint>
#include <vector>

#include "capture/capture_types.h"
#include "capture/video_frame.h"

namespace tovalo::sim {

class SimVideoFrame final : public VideoFrame {
  public:
    SimVideoFrame(WindowID windowID, std::uint64_t sequenceNumber, std::uint32_t width,
                  std::uint32_t height, TimePoint timestamp, bool valid = true);

    std::uint32_t width() const override { return width_; }
    std::uint32_t height() const override { return height_; }
    std::size_t bytesPerRow() const override { return static_cast<std::size_t>(width_) * 4; }
    const std::uint8_t* data() const override { return pixels_.data(); }
    TimePoint timestamp() const override { return timestamp_; }
    bool isValid() const override { return valid_; }

    WindowID windowID() const { return windowID_; }
    // 1 for a stream's first frame, counting up per stream.
    std::uint64_t sequenceNumber() const { return sequenceNumber_; }

    // The B, G, R, A bytes every pixel of such a frame holds.
    static std::uint32_t fillColour(WindowID windowID, std::uint64_t sequenceNumber);

  private:
    WindowID windowID_;
    std::uint64_t sequenceNumber_;
    std::uint32_t width_;
    std::uint32_t height_;
    TimePoint timestamp_;
    bool valid_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace tovalo::sim
