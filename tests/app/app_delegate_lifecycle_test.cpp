// The running program's lifecycle: system events pause and resume the pinned overlays, reopening
// brings the main window back, quitting closes every pinned window, and a released delegate
// leaves no observer behind.

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/app_harness.h"
#include "platform/sim/sim_platform_window.h"
#include "platform/sim/sim_running_application.h"

namespace tovalo {
namespace {

constexpr const char* kSuspend = "pinnedWindowsShouldSuspend";
constexpr const char* kResume = "pinnedWindowsShouldResume";

using DesktopEvent = void (sim::SimDesktop::*)();

struct SystemEventCase {
    const char* name;
    DesktopEvent pause;
    DesktopEvent resume;

    friend void PrintTo(const SystemEventCase& c, std::ostream* os) { *os << c.name; }
};

class SystemEventTest : public ::testing::TestWithParam<SystemEventCase> {};

TEST_P(SystemEventTest, PostsExactlyOneSuspendThenOneResume) {
    const SystemEventCase& c = GetParam();
    AppHarness app;
    app.launch();

    (app.desktop.get()->*c.pause)();
    // Delivered on the main queue, not within the system's post.
    EXPECT_TRUE(app.announcements.empty());
    app.runtime->runUntilIdle();
    EXPECT_EQ(app.announcements, std::vector<std::string>{kSuspend});

    (app.desktop.get()->*c.resume)();
    app.runtime->runUntilIdle();
    EXPECT_EQ(app.announcements, (std::vector<std::string>{kSuspend, kResume}));
}

INSTANTIATE_TEST_SUITE_P(
    Events, SystemEventTest,
    ::testing::Values(SystemEventCase{"ScreenLock", &sim::SimDesktop::lockScreen,
                                      &sim::SimDesktop::unlockScreen},
                      SystemEventCase{"Sleep", &sim::SimDesktop::sleep, &sim::SimDesktop::wake},
                      SystemEventCase{"UserSwitch", &sim::SimDesktop::switchUserAway,
                                      &sim::SimDesktop::switchUserBack},
                      SystemEventCase{"WindowOverview", &sim::SimDesktop::showOverview,
                                      &sim::SimDesktop::dismissOverview}),
    [](const auto& testParam) { return std::string(testParam.param.name); });

TEST(AppLifecycleTest, RepeatedEventsAreRelayedAsTheyComeWithoutPairing) {
    AppHarness app;
    app.launch();

    app.desktop->sleep();
    app.desktop->lockScreen();
    app.desktop->unlockScreen();
    app.desktop->wake();
    app.runtime->runUntilIdle();

    EXPECT_EQ(app.announcements, (std::vector<std::string>{kSuspend, kSuspend, kResume, kResume}));
}

TEST(AppLifecycleTest, SystemEventsBeforeLaunchFinishesAreNotRelayed) {
    AppHarness app;
    app.build();
    app.delegate().prepareApplication();
    app.delegate().applicationWillFinishLaunching();

    app.desktop->lockScreen();
    app.runtime->runUntilIdle();

    EXPECT_TRUE(app.announcements.empty());
}

struct ReopenCase {
    const char* name;
    bool hasVisibleWindows;
    int expectedShows;

    friend void PrintTo(const ReopenCase& c, std::ostream* os) { *os << c.name; }
};

class ReopenTest : public ::testing::TestWithParam<ReopenCase> {};

TEST_P(ReopenTest, ShowsTheMainWindowOnlyWhenNothingIsVisible) {
    const ReopenCase& c = GetParam();
    AppHarness app;
    app.launch();
    app.journal->clear();

    EXPECT_TRUE(app.delegate().applicationShouldHandleReopen(c.hasVisibleWindows));

    EXPECT_EQ(app.journal->count("mainWindow.show"), c.expectedShows);
}

INSTANTIATE_TEST_SUITE_P(Reopen, ReopenTest,
                         ::testing::Values(ReopenCase{"WithAVisibleWindow", true, 0},
                                           ReopenCase{"WithNoVisibleWindow", false, 1}),
                         [](const auto& testParam) { return std::string(testParam.param.name); });

class PinnedAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app_.launch();
        editor_ = app_.desktop->launchApp("org.example.Editor", "Editor");
    }

    // Opens a window of the editor and pins it on the primary display.
    WindowID pinNewWindow(const std::string& title, const Rect& frame) {
        const WindowID id = app_.desktop->openWindow(editor_, title, frame);
        const auto state = app_.desktop->window(id);
        const auto display = app_.desktop->displays().front();
        const SCWindow window{id, state->frame, state->title,
                              SCRunningApplication{"org.example.Editor", "Editor", state->ownerPID},
                              true};
        const SCDisplay scDisplay{display.displayID, display.frame,
                                  static_cast<std::uint32_t>(display.frame.size.width),
                                  static_cast<std::uint32_t>(display.frame.size.height)};
        app_.root->pinnedWindowManager()->present(window, scDisplay);
        return id;
    }

    AppHarness app_;
    std::shared_ptr<sim::SimRunningApplication> editor_;
};

TEST_F(PinnedAppTest, QuittingClosesEveryPinnedWindowAndStopsItsCapture) {
    pinNewWindow("Notes", Rect{100, 100, 800, 600});
    pinNewWindow("Draft", Rect{300, 200, 400, 300});
    app_.runtime->advanceBy(seconds(1));
    auto& manager = *app_.root->pinnedWindowManager();
    std::vector<PlatformWindowRef> panels;
    for (const auto& [id, entry] : manager.pinnedWindows().get()) {
        panels.push_back(entry.panel);
    }
    ASSERT_EQ(panels.size(), 2u);

    app_.delegate().applicationWillTerminate();
    app_.runtime->runUntilIdle();

    EXPECT_TRUE(manager.pinnedWindows().get().empty());
    for (const auto& panel : panels) {
        EXPECT_TRUE(panel->isClosed());
    }
    ASSERT_EQ(app_.streamControllers->made.size(), 2u);
    // Stopped by the manager and again by the overlay as it leaves its panel; stopping twice
    // is harmless, what matters is that nothing captures any more.
    for (const auto& controller : app_.streamControllers->made) {
        EXPECT_GE(controller->stopCount, 1);
        EXPECT_FALSE(controller->isCapturing().get());
    }
    // The source windows are not ours to close.
    EXPECT_EQ(app_.desktop->windowsOf(editor_->processIdentifier()).size(), 2u);
}

TEST(AppLifecycleTest, AReleasedDelegateRemovesItsObserversAndRelaysNothing) {
    AppHarness app;
    app.launch();
    std::weak_ptr<AppDelegate> delegate = app.root->appDelegate();
    app.journal->clear();

    // One event is already on its way to the main queue when the program goes away.
    app.desktop->lockScreen();
    app.root.reset();
    ASSERT_TRUE(delegate.expired());
    app.runtime->runUntilIdle();
    app.desktop->unlockScreen();
    app.desktop->showOverview();
    app.desktop->defaultCenter()->post(NotificationName::appThemeDidChange);
    app.runtime->runUntilIdle();

    EXPECT_TRUE(app.announcements.empty());
    EXPECT_EQ(app.journal->count("mainWindow.windowObserverRemoved"), 1);
    EXPECT_EQ(app.journal->count("mainWindow.applyTheme"), 0);
}

}  // namespace
}  // namespace tovalo
