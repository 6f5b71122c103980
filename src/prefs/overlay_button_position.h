#pragma once

// The corner of an overlay that holds its control buttons. Persisted by its raw string value.

#include <array>
#include <optional>
#include <string_view>

namespace tovalo {

enum class OverlayButtonPosition { topLeading, topTrailing, bottomLeading, bottomTrailing };

inline constexpr std::array<OverlayButtonPosition, 4> kAllOverlayButtonPositions{
    OverlayButtonPosition::topLeading, OverlayButtonPosition::topTrailing,
    OverlayButtonPosition::bottomLeading, OverlayButtonPosition::bottomTrailing};

// "topLeading", "topTrailing", "bottomLeading" or "bottomTrailing".
std::string_view rawValue(OverlayButtonPosition position);
// Nullopt for any other string.
std::optional<OverlayButtonPosition> parseOverlayButtonPosition(std::string_view raw);

}  // namespace tovalo
