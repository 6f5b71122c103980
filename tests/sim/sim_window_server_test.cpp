#include "platform/sim/sim_window_server.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_platform_window.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_window_factory.h"

namespace tovalo::sim {
namespace {

constexpr int kDesktopLevel = -2147483623;

// One desktop with a window in every state the list options tell apart, opened back to front:
//   "Menu"       layer 25 (a status-bar band window)
//   "Panel"      this program's floating panel, shown
//   "Hidden"     this program's window, never shown
//   "Elsewhere"  on virtual desktop 2
//   "Front"      normal, frontmost of layer 0 on screen
//   "Behind"     normal, behind "Front"
//   "Minimised"  minimised
//   "Wallpaper"  a desktop element below layer 0
class WindowListFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        auto finder = desktop->launchApp("org.example.Finder", "Finder");
        auto editor = desktop->launchApp("org.example.Editor", "Editor");
        auto clock = desktop->launchApp("org.example.Clock", "Clock");
        ids["Wallpaper"] = desktop->openWindow(finder, "Wallpaper", Rect{0, 0, 1440, 900});
        desktop->setLayer(ids["Wallpaper"], kDesktopLevel);
        ids["Minimised"] = desktop->openWindow(editor, "Minimised", Rect{50, 50, 300, 200});
        desktop->minimize(ids["Minimised"]);
        ids["Behind"] = desktop->openWindow(editor, "Behind", Rect{100, 100, 400, 300});
        ids["Front"] = desktop->openWindow(editor, "Front", Rect{120, 120, 400, 300});
        ids["Elsewhere"] = desktop->openWindow(editor, "Elsewhere", Rect{200, 200, 400, 300});
        desktop->moveToDesktop(ids["Elsewhere"], 2);
        ids["Menu"] = desktop->openWindow(clock, "Menu", Rect{1300, 0, 60, 24});
        desktop->setLayer(ids["Menu"], 25);

        panel = desktop->windowFactory()->makeWindow(
            {Rect{10, 10, 200, 100}, WindowStyle::nonactivatingPanel, true, "Panel"});
        panel->setLevel(WindowLevel::floating);
        panel->orderFront();
        ids["Panel"] = panel->windowNumber();
        hidden = desktop->windowFactory()->makeWindow(
            {Rect{0, 0, 500, 400}, WindowStyle::titled, false, "Hidden"});
        ids["Hidden"] = hidden->windowNumber();
    }

    std::vector<std::string> titles(WindowListOption options, WindowID relative) {
        auto list = desktop->windowServer()->copyWindowInfo(options, relative);
        EXPECT_TRUE(list.has_value());
        std::vector<std::string> result;
        for (const auto& record : list.value_or(ValueList{})) {
            const Value* name = record.find(WindowInfoKey::name);
            result.push_back(name ? name->asString().value_or("?") : "<no name>");
        }
        return result;
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::make(runtime);
    std::map<std::string, WindowID> ids;
    PlatformWindowRef panel;
    PlatformWindowRef hidden;
};

struct ListCase {
    const char* label;
    WindowListOption options;
    // Title of the relative window; "" for none, "unknown" for an ID no window has.
    std::string relative;
    std::vector<std::string> expected;
};

TEST_F(WindowListFixture, OptionsFilterAndKeepFrontToBackOrder) {
    using namespace WindowListOptions;
    const std::vector<ListCase> cases = {
        {"all",
         all,
         "",
         {"Menu", "Panel", "Hidden", "Elsewhere", "Front", "Behind", "Minimised", "Wallpaper"}},
        {"on screen only", onScreenOnly, "", {"Menu", "Panel", "Front", "Behind", "Wallpaper"}},
        {"on screen without desktop elements",
         onScreenOnly | excludeDesktopElements,
         "",
         {"Menu", "Panel", "Front", "Behind"}},
        {"one minimised window", includingWindow, "Minimised", {"Minimised"}},
        {"one window on another desktop", includingWindow, "Elsewhere", {"Elsewhere"}},
        {"an unknown window", includingWindow, "unknown", {}},
        {"above a window", onScreenAboveWindow, "Behind", {"Menu", "Panel", "Front"}},
        {"below a window", onScreenBelowWindow, "Front", {"Behind", "Wallpaper"}},
        {"below a window, including it",
         onScreenBelowWindow | includingWindow,
         "Front",
         {"Front", "Behind", "Wallpaper"}},
        {"below a window without desktop elements",
         onScreenBelowWindow | excludeDesktopElements,
         "Front",
         {"Behind"}},
        {"above no window",
         onScreenAboveWindow,
         "",
         {"Menu", "Panel", "Front", "Behind", "Wallpaper"}},
        {"above an unknown window", onScreenAboveWindow, "unknown", {}},
    };
    for (const auto& c : cases) {
        WindowID relative = kNullWindowID;
        if (c.relative == "unknown") {
            relative = 99999;
        } else if (!c.relative.empty()) {
            relative = ids.at(c.relative);
        }
        EXPECT_EQ(titles(c.options, relative), c.expected) << c.label;
    }
}

TEST_F(WindowListFixture, RaisingClosingAndQuittingChangeTheList) {
    desktop->raise(ids["Behind"]);
    desktop->closeWindow(ids["Front"]);
    EXPECT_EQ(titles(WindowListOptions::onScreenOnly, kNullWindowID),
              (std::vector<std::string>{"Menu", "Panel", "Behind", "Wallpaper"}));

    hidden->close();
    desktop->quitApp(desktop->window(ids["Menu"])->ownerPID);
    EXPECT_EQ(titles(WindowListOptions::all, kNullWindowID),
              (std::vector<std::string>{"Panel", "Behind", "Elsewhere", "Minimised", "Wallpaper"}));
}

TEST_F(WindowListFixture, RecordCarriesEveryKeyOfTheWindowServer) {
    desktop->setAlpha(ids["Front"], 0.5);
    desktop->setSharingState(ids["Front"], 0);
    auto list =
        desktop->windowServer()->copyWindowInfo(WindowListOptions::includingWindow, ids["Front"]);
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 1u);
    const ValueMap expected{
        {WindowInfoKey::number, Value(ids["Front"])},
        {WindowInfoKey::name, Value("Front")},
        {WindowInfoKey::ownerName, Value("Editor")},
        {WindowInfoKey::ownerPID, Value(desktop->window(ids["Front"])->ownerPID)},
        {WindowInfoKey::layer, Value(0)},
        {WindowInfoKey::alpha, Value(0.5)},
        {WindowInfoKey::sharingState, Value(0)},
        {WindowInfoKey::memoryUsage, Value(400 * 300 * 4)},
        {WindowInfoKey::isOnscreen, Value(true)},
        {WindowInfoKey::bounds, Value(ValueMap{{"X", Value(120.0)},
                                               {"Y", Value(120.0)},
                                               {"Width", Value(400.0)},
                                               {"Height", Value(300.0)}})},
    };
    EXPECT_EQ((*list)[0], Value(expected));
}

TEST_F(WindowListFixture, OwnPanelsAreListedAsThisProcessAtTheirLevel) {
    auto list =
        desktop->windowServer()->copyWindowInfo(WindowListOptions::includingWindow, ids["Panel"]);
    ASSERT_TRUE(list && list->size() == 1);
    const Value& record = (*list)[0];
    EXPECT_EQ(record.find(WindowInfoKey::ownerPID)->asInt(), desktop->selfPID());
    EXPECT_EQ(record.find(WindowInfoKey::ownerName)->asString(), "Tovalo");
    EXPECT_EQ(record.find(WindowInfoKey::layer)->asInt(), static_cast<int>(WindowLevel::floating));
}

TEST_F(WindowListFixture, TitlesNeedScreenRecordingAndAFailingServerAnswersNothing) {
    desktop->setScreenRecordingAllowed(false);
    EXPECT_EQ(titles(WindowListOptions::includingWindow, ids["Front"]),
              (std::vector<std::string>{"<no name>"}));

    desktop->windowServer()->failNextQuery();
    EXPECT_FALSE(desktop->windowServer()->copyWindowInfo(WindowListOptions::all, 0).has_value());
    EXPECT_TRUE(desktop->windowServer()->copyWindowInfo(WindowListOptions::all, 0).has_value());
}

}  // namespace
}  // namespace tovalo::sim
