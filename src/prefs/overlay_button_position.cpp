#include "prefs/overlay_button_position.h"

namespace tovalo {

std::string_view rawValue(OverlayButtonPosition position) {
    switch (position) {
        case OverlayButtonPosition::topLeading:
            return "topLeading";
        case OverlayButtonPosition::topTrailing:
            return "topTrailing";
        case OverlayButtonPosition::bottomLeading:
            return "bottomLeading";
        case OverlayButtonPosition::bottomTrailing:
            return "bottomTrailing";
    }
    return "topTrailing";
}

std::optional<OverlayButtonPosition> parseOverlayButtonPosition(std::string_view raw) {
    for (const auto position : kAllOverlayButtonPositions) {
        if (rawValue(position) == raw) {
            return position;
        }
    }
    return std::nullopt;
}

}  // namespace tovalo
