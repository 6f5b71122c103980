#include "prefs/overlay_activation_mode.h"

namespace tovalo {

std::string_view rawValue(OverlayActivationMode mode) {
    switch (mode) {
        case OverlayActivationMode::hover:
            return "hover";
        case OverlayActivationMode::click:
            return "click";
        case OverlayActivationMode::none:
            return "none";
    }
    return "hover";
}

std::optional<OverlayActivationMode> parseOverlayActivationMode(std::string_view raw) {
    for (const auto mode : kAllOverlayActivationModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

}  // namespace tovalo
