#pragma once

// The appearance the user chose: follow the system, or always light, or always dark. Persisted
// under "appTheme" by its raw string value. The detected system theme uses only `light` and
// `dark`.

#include <array>
#include <optional>
#include <string_view>

namespace tovalo {

enum class AppTheme { system, light, dark };

inline constexpr std::array<AppTheme, 3> kAllAppThemes{AppTheme::system, AppTheme::light,
                                                       AppTheme::dark};

// "system", "light" or "dark".
std::string_view rawValue(AppTheme theme);
// Nullopt for any other string; readers treat that as `system`.
std::optional<AppTheme> parseAppTheme(std::string_view raw);

}  // namespace tovalo
