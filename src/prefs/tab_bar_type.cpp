#include "prefs/tab_bar_type.h"

namespace tovalo {

int rawValue(TabBarType tab) {
    return static_cast<int>(tab);
}

std::optional<TabBarType> parseTabBarType(int raw) {
    for (const auto tab : kAllTabBarTypes) {
        if (rawValue(tab) == raw) {
            return tab;
        }
    }
    return std::nullopt;
}

std::string_view label(TabBarType tab) {
    switch (tab) {
        case TabBarType::windowSnapshot:
            return "Windows";
        case TabBarType::generalSettings:
            return "Settings";
        case TabBarType::about:
            return "About";
    }
    return "Windows";
}

std::string_view symbolName(TabBarType tab) {
    switch (tab) {
        case TabBarType::windowSnapshot:
            return "rectangle.3.offgrid";
        case TabBarType::generalSettings:
            return "gearshape";
        case TabBarType::about:
            return "info.circle";
    }
    return "rectangle.3.offgrid";
}

std::string_view analyticsName(TabBarType tab) {
    switch (tab) {
        case TabBarType::windowSnapshot:
            return "window_snapshot";
        case TabBarType::generalSettings:
            return "general_settings";
        case TabBarType::about:
            return "about";
    }
    return "window_snapshot";
}

}  // namespace tovalo
