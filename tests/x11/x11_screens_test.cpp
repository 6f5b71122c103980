#include "platform/x11/x11_screens.h"

#include "x11_desktop_fixture.h"

namespace tovalo::x11::testing {
namespace {

TEST(X11ScreensConversionTest, FlipsAgainstThePrimaryMonitorAndKeepsTheWorkArea) {
    const Rect primary(0, 0, 1920, 1080);
    struct Case {
        Monitor monitor;
        std::optional<Rect> workArea;
        Rect frame;
        Rect visible;
    };
    const Case cases[] = {
        {{1, primary, "A", true}, std::nullopt, Rect(0, 0, 1920, 1080), Rect(0, 0, 1920, 1080)},
        // A 30-pixel panel at the top of the primary monitor.
        {{1, primary, "A", true},
         Rect(0, 30, 1920, 1050),
         Rect(0, 0, 1920, 1080),
         Rect(0, 0, 1920, 1050)},
        // A taller monitor to the right, top-aligned: it reaches below the primary one.
        {{2, Rect(1920, 0, 1200, 1920), "B", false},
         std::nullopt,
         Rect(1920, -840, 1200, 1920),
         Rect(1920, -840, 1200, 1920)},
        // A monitor above the primary one.
        {{3, Rect(0, -1080, 1920, 1080), "C", false},
         std::nullopt,
         Rect(0, 1080, 1920, 1080),
         Rect(0, 1080, 1920, 1080)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.monitor.name);
        const Screen screen = X11Screens::toScreen(c.monitor, primary, c.workArea, 2.0);
        EXPECT_EQ(screen.displayID, c.monitor.id);
        EXPECT_EQ(screen.frame, c.frame);
        EXPECT_EQ(screen.visibleFrame, c.visible);
        EXPECT_EQ(screen.backingScaleFactor, 2.0);
    }
}

using X11ScreensTest = X11DesktopTest;

TEST_F(X11ScreensTest, TheRandrMonitorOfTheSessionIsTheMainScreen) {
    const auto monitors = RandrMonitors::read(*connection_);
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors.front().frame, Rect(0, 0, 1920, 1080));
    EXPECT_FALSE(monitors.front().name.empty());
    EXPECT_NE(monitors.front().id, 0u);

    X11Screens screens(reader_);
    const auto all = screens.screens();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all.front().displayID, monitors.front().id);
    EXPECT_EQ(all.front().frame, Rect(0, 0, 1920, 1080));
    EXPECT_TRUE(all.front().frame.contains(all.front().visibleFrame));
    EXPECT_EQ(all.front().backingScaleFactor, 1.0);
    EXPECT_EQ(screens.mainScreen(), all.front());

    screens.setScaleProvider([](const Monitor&) { return 1.5; });
    EXPECT_EQ(screens.screens().front().backingScaleFactor, 1.5);
}

}  // namespace
}  // namespace tovalo::x11::testing
