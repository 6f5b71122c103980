#include "prefs/app_theme.h"

namespace tovalo {

std::string_view rawValue(AppTheme theme) {
    switch (theme) {
        case AppTheme::system:
            return "system";
        case AppTheme::light:
            return "light";
        case AppTheme::dark:
            return "dark";
    }
    return "system";
}

std::optional<AppTheme> parseAppTheme(std::string_view raw) {
    for (const auto theme : kAllAppThemes) {
        if (rawValue(theme) == raw) {
            return theme;
        }
    }
    return std::nullopt;
}

}  // namespace tovalo
