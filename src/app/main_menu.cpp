#include "app/main_menu.h"

#include <algorithm>
#include <iterator>

namespace tovalo {

void MainMenu::removeItem(std::size_t index) {
    if (index < items_.size()) {
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void MainMenu::removeViewMenu() {
    const auto isWindowMenu = [](const MainMenuItem& item) {
        return item.submenu && std::ranges::any_of(*item.submenu, [](const MainMenuEntry& entry) {
                   return entry.action == minimizeWindowAction;
               });
    };
    const auto windowMenu = std::ranges::find_if(items_, isWindowMenu);
    if (windowMenu == items_.end()) {
        return;
    }
    const auto index = static_cast<std::size_t>(std::distance(items_.begin(), windowMenu));
    if (index > 0) {
        removeItem(index - 1);
    }
}

}  // namespace tovalo
