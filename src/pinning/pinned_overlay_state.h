#pragma once

// The settings of one overlay that outlive a rebuild of its content and an unpin/restore cycle:
// its own opacity (when it overrides the global one), its activation mode and the corner of its
// control button. The overlay reports them to the pinned window manager, which keeps them in
// memory per pinned window; they are never stored on disk.

#include <optional>

#include "prefs/overlay_activation_mode.h"
#include "prefs/overlay_button_position.h"

namespace tovalo {

struct PinnedOverlayState {
    // 0.0 to 1.0; absent means the overlay follows the global opacity preference.
    std::optional<double> opacity;
    OverlayActivationMode activationMode = OverlayActivationMode::hover;
    OverlayButtonPosition buttonPosition = OverlayButtonPosition::topTrailing;

    friend bool operator==(const PinnedOverlayState&, const PinnedOverlayState&) = default;
};

}  // namespace tovalo
