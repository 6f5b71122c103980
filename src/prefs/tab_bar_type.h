#pragma once

// The tabs of the main window, in the order the tab bar shows them. Identified by an integer
// raw value; each tab has a label (a key into the string tables), an icon name and the name
// navigation analytics report.

#include <array>
#include <optional>
#include <string_view>

namespace tovalo {

enum class TabBarType { windowSnapshot = 0, generalSettings = 1, about = 2 };

inline constexpr std::array<TabBarType, 3> kAllTabBarTypes{
    TabBarType::windowSnapshot, TabBarType::generalSettings, TabBarType::about};

// 0, 1 or 2.
int rawValue(TabBarType tab);
// Nullopt for any other integer.
std::optional<TabBarType> parseTabBarType(int raw);

// "Windows", "Settings" or "About".
std::string_view label(TabBarType tab);
// "rectangle.3.offgrid", "gearshape" or "info.circle".
std::string_view symbolName(TabBarType tab);
// "window_snapshot", "general_settings" or "about".
std::string_view analyticsName(TabBarType tab);

}  // namespace tovalo
