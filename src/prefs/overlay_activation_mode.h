#pragma once

// How an overlay hands the pointer over to its source window: when the pointer rests on it
// (`hover`), when it is clicked (`click`), or never (`none`). Persisted and reported by its raw
// string value.

#include <array>
#include <optional>
#include <string_view>

namespace tovalo {

enum class OverlayActivationMode { hover, click, none };

inline constexpr std::array<OverlayActivationMode, 3> kAllOverlayActivationModes{
    OverlayActivationMode::hover, OverlayActivationMode::click, OverlayActivationMode::none};

// "hover", "click" or "none".
std::string_view rawValue(OverlayActivationMode mode);
// Nullopt for any other string.
std::optional<OverlayActivationMode> parseOverlayActivationMode(std::string_view raw);

}  // namespace tovalo
