#pragma once

// One still picture of a window with what the thumbnail screen shows beside it. The stream
// controller makes one from the first frame of each capture session and hands it to the pinned
// window manager, which keeps the latest per pinned window; the thumbnail screen reads it.

#include <cstdint>
#include <optional>
#include <string>

#include "capture/capture_types.h"
#include "capture/video_frame.h"
#include "platform/image.h"

namespace tovalo {

struct WindowSnapshotDetails {
    // Always the window ID widened; the identity of the snapshot.
    std::uint64_t id = 0;
    WindowID windowID = 0;
    // The window's title, or "Untitled Window".
    std::string title;
    // The owner's display name, or "Unknown App".
    std::string appName;
    // Null when the owner is not running or has no icon.
    ImageRef appIcon;
    // The captured picture; its size is the picture's size in pixels.
    VideoFrameRef image;
    // Absent when the window has no owning application.
    std::optional<std::string> bundleIdentifier;
};

}  // namespace tovalo
