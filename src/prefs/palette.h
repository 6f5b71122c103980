#pragma once

// The fourteen colours every view of the program paints with, for one theme. Built by
// AppStyles; carried down the view tree as an environment value.

#include "prefs/color.h"

namespace tovalo {

struct Palette {
    Color windowBackground;
    Color secondaryBackground;
    Color settingsCardBackground;
    Color accentColor;
    Color secondaryTextColor;
    Color statusTextColor;
    Color cardDefaultBorderColor;
    Color cardHoverBorderColor;
    Color cardSelectionBorderColor;
    Color cardSelectionBackgroundColor;
    Color cardHoverBackgroundColor;
    Color cardShadowColor;
    Color cardHoverShadowColor;
    Color selectionShadowColor;

    friend constexpr bool operator==(const Palette&, const Palette&) = default;
};

}  // namespace tovalo
