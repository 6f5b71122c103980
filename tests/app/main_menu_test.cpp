// Removing the View menu: the top-level item just before the Window menu (the first menu that
// can minimise a window) goes, and nothing else.

#include "app/main_menu.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace tovalo {
namespace {

MainMenuItem menu(std::string title, std::vector<std::string> actions) {
    std::vector<MainMenuEntry> entries;
    for (auto& action : actions) {
        entries.push_back({action, action});
    }
    return {std::move(title), std::move(entries)};
}

MainMenuItem plainItem(std::string title) {
    return {std::move(title), std::nullopt};
}

std::vector<std::string> titles(const MainMenu& mainMenu) {
    std::vector<std::string> result;
    for (const auto& item : mainMenu.items()) {
        result.push_back(item.title);
    }
    return result;
}

struct RemoveViewMenuCase {
    const char* name;
    std::vector<MainMenuItem> items;
    std::vector<std::string> remaining;

    friend void PrintTo(const RemoveViewMenuCase& c, std::ostream* os) { *os << c.name; }
};

class RemoveViewMenuTest : public ::testing::TestWithParam<RemoveViewMenuCase> {};

TEST_P(RemoveViewMenuTest, RemovesOnlyTheItemBeforeTheFirstWindowMenu) {
    MainMenu mainMenu(GetParam().items);
    mainMenu.removeViewMenu();
    EXPECT_EQ(titles(mainMenu), GetParam().remaining);
}

const char* const kMinimize = MainMenu::minimizeWindowAction;

INSTANTIATE_TEST_SUITE_P(
    Menus, RemoveViewMenuTest,
    ::testing::Values(
        RemoveViewMenuCase{"StandardMenuBar",
                           {menu("App", {"terminate:"}), menu("Edit", {"copy:"}),
                            menu("View", {"toggleFullScreen:"}),
                            menu("Window", {"zoom:", kMinimize}), menu("Help", {})},
                           {"App", "Edit", "Window", "Help"}},
        // Whatever comes before the Window menu goes, even an item without a submenu.
        RemoveViewMenuCase{"PlainItemBeforeWindow",
                           {menu("App", {}), plainItem("Spacer"), menu("Window", {kMinimize})},
                           {"App", "Window"}},
        RemoveViewMenuCase{
            "WindowMenuFirst", {menu("Window", {kMinimize}), menu("View", {})}, {"Window", "View"}},
        RemoveViewMenuCase{"NoWindowMenu",
                           {menu("App", {}), menu("View", {"toggleFullScreen:"})},
                           {"App", "View"}},
        // A plain item titled like the Window menu has no minimise entry to find.
        RemoveViewMenuCase{"MinimiseOnlyAsTopLevelTitle",
                           {menu("App", {}), plainItem(kMinimize)},
                           {"App", kMinimize}},
        RemoveViewMenuCase{"OnlyTheFirstWindowMenuCounts",
                           {menu("App", {}), menu("View", {}), menu("Window", {kMinimize}),
                            menu("Other", {kMinimize})},
                           {"App", "Window", "Other"}},
        RemoveViewMenuCase{"EmptyMenu", {}, {}}),
    [](const auto& testParam) { return std::string(testParam.param.name); });

}  // namespace
}  // namespace tovalo
