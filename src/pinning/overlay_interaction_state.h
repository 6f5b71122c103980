#pragma once

// Whether an overlay shows its live copy of the source window (`capturing`: capture runs) or has
// stepped aside so the user can work in the real window (`revealing`: the source is raised, the
// copy faded out, capture stopped, clicks pass through the panel except over its controls).

#include <string_view>

namespace tovalo {

enum class OverlayInteractionState { capturing, revealing };

// "capturing" or "revealing", as diagnostics name the states.
constexpr std::string_view rawValue(OverlayInteractionState state) {
    return state == OverlayInteractionState::revealing ? "revealing" : "capturing";
}

}  // namespace tovalo
