#pragma once

// The application's main menu, as far as start-up edits it: top-level items, each optionally
// with a submenu whose entries name the action they trigger. Desktops with a global menu bar
// build it from this model; on others the program has none. Owned by whoever builds the menu
// bar and handed to the application delegate. Main thread.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tovalo {

struct MainMenuEntry {
    std::string title;
    // The action the entry triggers, for example "performMiniaturize:"; empty for none.
    std::string action;

    friend bool operator==(const MainMenuEntry&, const MainMenuEntry&) = default;
};

struct MainMenuItem {
    std::string title;
    std::optional<std::vector<MainMenuEntry>> submenu;

    friend bool operator==(const MainMenuItem&, const MainMenuItem&) = default;
};

class MainMenu {
  public:
    // The standard action that minimises the front window; only the Window menu holds it.
    static constexpr const char* minimizeWindowAction = "performMiniaturize:";

    explicit MainMenu(std::vector<MainMenuItem> items = {}) : items_(std::move(items)) {}

    const std::vector<MainMenuItem>& items() const { return items_; }
    void addItem(MainMenuItem item) { items_.push_back(std::move(item)); }
    // Indexes past the end are ignored.
    void removeItem(std::size_t index);

    // Removes the standard View menu, which the program has no use for: the top-level item just
    // before the first one whose submenu can minimise a window (the Window menu). Nothing is
    // removed when the Window menu comes first or there is none.
    void removeViewMenu();

  private:
    std::vector<MainMenuItem> items_;
};

}  // namespace tovalo
