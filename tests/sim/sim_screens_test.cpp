#include "platform/sim/sim_screens.h"

#include <gtest/gtest.h>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/sim/sim_window_server.h"

namespace tovalo::sim {
namespace {

// The layout where the two conventions differ most: a 1440x900 primary display and a 1920x1080
// display above it and to its right. In window-server coordinates (top-left origin, y down) the
// second display starts at y = -1080; in screen coordinates (bottom-left origin, y up) it starts
// at y = 900, on top of the primary.
class TwoDisplayFixture : public ::testing::Test {
  protected:
    void SetUp() override { second = desktop->addDisplay(Rect{1440, -1080, 1920, 1080}, 1.0); }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::make(runtime);
    DisplayID second = 0;
};

TEST_F(TwoDisplayFixture, ScreensUseTheBottomLeftOriginOfThePrimaryDisplay) {
    auto screens = desktop->screens()->screens();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0].displayID, desktop->primaryDisplayID());
    EXPECT_EQ(screens[0].frame, (Rect{0, 0, 1440, 900}));
    EXPECT_EQ(screens[0].visibleFrame, (Rect{0, 0, 1440, 900 - SimDesktop::kMenuBarHeight}));
    EXPECT_EQ(screens[0].backingScaleFactor, 2.0);
    EXPECT_EQ(screens[1].displayID, second);
    EXPECT_EQ(screens[1].frame, (Rect{1440, 900, 1920, 1080}));
    EXPECT_EQ(screens[1].backingScaleFactor, 1.0);
}

TEST_F(TwoDisplayFixture, APanelPlacedInScreenCoordinatesListsWithTheSourceBounds) {
    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    const Rect source{1500, -1000, 800, 600};
    WindowID window = desktop->openWindow(editor, "Notes", source);

    // Screen y of the source: 900 - (-1000 + 600) = 1300.
    const Rect panelFrame = desktop->toScreenRect(source);
    EXPECT_EQ(panelFrame, (Rect{1500, 1300, 800, 600}));
    auto panel =
        desktop->windowFactory()->makeWindow({panelFrame, WindowStyle::borderless, true, ""});
    panel->orderFront();

    auto records = desktop->windowServer()->copyWindowInfo(WindowListOptions::onScreenOnly, 0);
    ASSERT_TRUE(records && records->size() == 2);
    // The panel is in front; both list exactly the same window-server bounds.
    EXPECT_EQ(*(*records)[0].find(WindowInfoKey::bounds),
              *(*records)[1].find(WindowInfoKey::bounds));
    EXPECT_EQ(desktop->window(panel->windowNumber())->frame, desktop->window(window)->frame);
    EXPECT_EQ(panel->frame(), panelFrame);
}

TEST_F(TwoDisplayFixture, MainScreenIsWhereTheFrontWindowIs) {
    EXPECT_EQ(desktop->screens()->mainScreen()->displayID, desktop->primaryDisplayID());

    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    WindowID onSecond = desktop->openWindow(editor, "Notes", Rect{1600, -900, 800, 600});
    EXPECT_EQ(desktop->screens()->mainScreen()->displayID, second);

    desktop->minimize(onSecond);
    EXPECT_EQ(desktop->screens()->mainScreen()->displayID, desktop->primaryDisplayID());
}

TEST_F(TwoDisplayFixture, ConversionsAreEachOthersInverse) {
    for (const Rect& rect :
         {Rect{0, 0, 1440, 900}, Rect{1440, -1080, 1920, 1080}, Rect{-300.5, 850, 640, 480}}) {
        EXPECT_EQ(desktop->toWindowServerRect(desktop->toScreenRect(rect)), rect);
    }
}

}  // namespace
}  // namespace tovalo::sim
