#include "pinning/screen_coordinates.h"

#include <gtest/gtest.h>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_screens.h"

namespace tovalo {
namespace {

// Three displays whose top edges differ: the 1440x900 primary, one to its right whose top is
// 300 pt lower, and one above it. A flip against the wrong screen shows up on the last two.
class ScreenCoordinatesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        desktop->addDisplay(Rect{1440, 300, 1280, 800});
        desktop->addDisplay(Rect{0, -1080, 1920, 1080});
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
};

TEST_F(ScreenCoordinatesTest, FlipsAgainstThePrimaryScreenWhereverTheRectangleIs) {
    struct Case {
        const char* name;
        Rect windowServer;
        Rect expected;
    };
    const Case cases[] = {
        {"on the primary", {100, 100, 800, 600}, {100, 200, 800, 600}},
        {"at the primary's corner", {0, 0, 1440, 900}, {0, 0, 1440, 900}},
        {"on the lower display to the right", {1500, 400, 400, 200}, {1500, 300, 400, 200}},
        {"on the display above", {100, -900, 800, 600}, {100, 1200, 800, 600}},
        {"across two displays", {1300, 500, 400, 300}, {1300, 100, 400, 300}},
        {"off every display", {-500, 50, 300, 200}, {-500, 650, 300, 200}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Rect converted = toScreenCoordinates(c.windowServer, *desktop->screens());
        EXPECT_EQ(converted, c.expected);
        // Panels placed this way land where the desktop shows the source window.
        EXPECT_EQ(converted, desktop->toScreenRect(c.windowServer));
    }
}

TEST_F(ScreenCoordinatesTest, WithoutAnyScreenTheRectangleStaysAsItIs) {
    const sim::SimScreens noScreens{std::weak_ptr<sim::SimDesktop>()};
    ASSERT_TRUE(noScreens.screens().empty());
    const Rect rect{100, 100, 800, 600};
    EXPECT_EQ(toScreenCoordinates(rect, noScreens), rect);
}

}  // namespace
}  // namespace tovalo
