#pragma once

// The view-environment entry that carries the user's theme down the view tree; views that no
// ancestor gave a theme see its default.

#include "prefs/app_theme.h"

namespace tovalo {

struct AppThemeKey {
    using Value = AppTheme;
    static constexpr AppTheme defaultValue = AppTheme::system;
};

}  // namespace tovalo
