#include "platform/sim/sim_platform_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/system_notifications.h"

namespace tovalo::sim {
namespace {

class PlatformWindowFixture : public ::testing::Test {
  protected:
    PlatformWindowRef makePanel(const std::string& title) {
        return desktop->windowFactory()->makeWindow(
            {Rect{100, 100, 300, 200}, WindowStyle::nonactivatingPanel, true, title});
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::make(runtime);
};

TEST_F(PlatformWindowFixture, CloseRunsWillCloseObserversFirstAndOnlyOnce) {
    auto panel = makePanel("Overlay");
    panel->orderFront();
    const WindowID number = panel->windowNumber();
    std::vector<std::string> seen;
    auto first = panel->observeWillClose([&] {
        // Still open and listed while the observers run.
        seen.push_back(std::string("first closed=") + (panel->isClosed() ? "yes" : "no") +
                       " listed=" + (desktop->window(number) ? "yes" : "no"));
        panel->close();  // re-entrant close does nothing
    });
    auto removed = panel->observeWillClose([&] { seen.push_back("removed"); });
    auto last = panel->observeWillClose([&] { seen.push_back("last"); });
    removed.reset();

    panel->close();
    panel->close();

    EXPECT_EQ(seen, (std::vector<std::string>{"first closed=no listed=yes", "last"}));
    EXPECT_TRUE(panel->isClosed());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(desktop->window(number).has_value());
}

TEST_F(PlatformWindowFixture, ClosingThroughTheDesktopRunsTheSameObservers) {
    auto panel = makePanel("Overlay");
    int willClose = 0;
    auto token = panel->observeWillClose([&] { ++willClose; });
    EXPECT_TRUE(desktop->closeWindow(panel->windowNumber()));
    EXPECT_EQ(willClose, 1);
    EXPECT_TRUE(panel->isClosed());
}

TEST_F(PlatformWindowFixture, RecordsWhatTheCoreSetsAndMirrorsItIntoTheWindowList) {
    auto panel = makePanel("Overlay");
    auto other = makePanel("Other");
    EXPECT_NE(panel->windowNumber(), other->windowNumber());
    EXPECT_FALSE(desktop->window(panel->windowNumber())->isOnScreen);

    panel->setFrame(Rect{10, 20, 640, 480}, true);
    panel->setLevel(WindowLevel::floating);
    panel->setAlphaValue(0.4);
    panel->setTitle("Pinned");
    panel->setIgnoresMouseEvents(true);
    panel->orderFrontRegardless();

    EXPECT_EQ(panel->frame(), (Rect{10, 20, 640, 480}));
    EXPECT_EQ(panel->level(), WindowLevel::floating);
    EXPECT_EQ(panel->alphaValue(), 0.4);
    EXPECT_EQ(panel->title(), "Pinned");
    EXPECT_TRUE(panel->ignoresMouseEvents());
    EXPECT_TRUE(panel->isVisible());

    auto state = desktop->window(panel->windowNumber());
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->isOnScreen);
    EXPECT_TRUE(state->isOwnWindow);
    EXPECT_EQ(state->ownerPID, desktop->selfPID());
    EXPECT_EQ(state->layer, static_cast<int>(WindowLevel::floating));
    EXPECT_EQ(state->alpha, 0.4);
    EXPECT_EQ(state->title, "Pinned");
    // Screen y 20 with height 480 on a 900-point primary display is window-server y 400.
    EXPECT_EQ(state->frame, (Rect{10, 400, 640, 480}));

    panel->orderOut();
    EXPECT_FALSE(desktop->window(panel->windowNumber())->isOnScreen);
    // The window's own record stays authoritative: scripting cannot move it behind its back.
    EXPECT_FALSE(desktop->moveWindow(panel->windowNumber(), 5, 5));
    EXPECT_EQ(panel->frame(), (Rect{10, 20, 640, 480}));
}

TEST_F(PlatformWindowFixture, KeyWindowFollowsMakeKeyAndOrderOut) {
    auto main = makePanel("Main");
    auto settings = makePanel("Settings");
    main->makeKeyAndOrderFront();
    EXPECT_TRUE(main->isKeyWindow());
    settings->makeKeyAndOrderFront();
    EXPECT_FALSE(main->isKeyWindow());
    EXPECT_TRUE(settings->isKeyWindow());
    settings->orderOut();
    EXPECT_FALSE(settings->isKeyWindow());
}

TEST_F(PlatformWindowFixture, ApplicationListsOpenWindowsFrontToBack) {
    auto app = desktop->application();
    auto back = makePanel("Back");
    auto front = makePanel("Front");
    auto hidden = makePanel("Hidden");
    auto closed = makePanel("Closed");
    back->orderFront();
    front->orderFront();
    closed->close();

    std::vector<std::string> titles;
    for (const auto& window : app->windows()) {
        titles.push_back(window->title());
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Front", "Back", "Hidden"}));
}

TEST_F(PlatformWindowFixture, ActivationIsAnnouncedLaterAndOnlyWhenItChangesSomething) {
    auto app = desktop->application();
    int announcements = 0;
    auto token =
        desktop->defaultCenter()->addObserver(SystemNotification::applicationDidBecomeActive,
                                              [&](const Notification&) { ++announcements; });

    app->activate(true);
    EXPECT_TRUE(app->isActive());
    EXPECT_EQ(announcements, 0);
    runtime->runUntilIdle();
    EXPECT_EQ(announcements, 1);

    app->activate(false);
    runtime->runUntilIdle();
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(app->activationCalls(), (std::vector<bool>{true, false}));

    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    editor->activate(false);
    EXPECT_FALSE(app->isActive());
    app->activate(true);
    runtime->runUntilIdle();
    EXPECT_EQ(announcements, 2);
}

// A content that writes down what its window tells it.
struct JournalingContent final : WindowContent {
    JournalingContent(std::string contentName, std::vector<std::string>& lines)
        : name(std::move(contentName)), journal(lines) {}
    void contentDidAppear(const std::shared_ptr<PlatformWindow>& host) override {
        journal.push_back(name + " appeared in " + host->title());
    }
    void contentDidDisappear() override { journal.push_back(name + " disappeared"); }
    std::string name;
    std::vector<std::string>& journal;
};

TEST_F(PlatformWindowFixture, ContentAppearsWhenInstalledAndDisappearsWhenReplacedOrClosed) {
    auto panel = makePanel("Overlay");
    std::vector<std::string> journal;
    auto first = std::make_shared<JournalingContent>("first", journal);
    auto second = std::make_shared<JournalingContent>("second", journal);

    panel->setContent(first);
    panel->setContent(first);  // the same content again changes nothing
    panel->setContent(second);
    panel->close();
    panel->setContent(first);  // a closed window shows nothing

    EXPECT_EQ(journal,
              (std::vector<std::string>{"first appeared in Overlay", "first disappeared",
                                        "second appeared in Overlay", "second disappeared"}));
}

TEST_F(PlatformWindowFixture, AnAnimationAppliesItsTargetAndCompletesOnceItsDurationHasPassed) {
    auto panel = makePanel("Overlay");
    std::vector<std::string> journal;
    panel->animate(
        AnimationRequest{0.25, seconds(0.12), AnimationCurve::easeOut},
        [&](double value) { journal.push_back("apply " + std::to_string(value)); },
        [&] { journal.push_back("done"); });
    runtime->runUntilIdle();
    runtime->advanceBy(seconds(0.11));
    EXPECT_TRUE(journal.empty());

    // Also for a window closed meanwhile: the content decides whether it still matters.
    panel->close();
    runtime->advanceBy(seconds(0.01));
    EXPECT_EQ(journal, (std::vector<std::string>{"apply 0.250000", "done"}));
    EXPECT_EQ(std::dynamic_pointer_cast<SimPlatformWindow>(panel)->animationRequests(),
              (std::vector<AnimationRequest>{{0.25, seconds(0.12), AnimationCurve::easeOut}}));
}

TEST_F(PlatformWindowFixture, ApplicationReadsTheDesktopsPointerAndButtons) {
    desktop->movePointer(Point{320, 240});
    desktop->setPressedMouseButtons(0b101);
    EXPECT_EQ(desktop->application()->mouseLocation(), (Point{320, 240}));
    EXPECT_EQ(desktop->application()->pressedMouseButtons(), 0b101u);

    desktop->setPressedMouseButtons(0);
    EXPECT_EQ(desktop->application()->pressedMouseButtons(), 0u);
}

TEST_F(PlatformWindowFixture, TerminateRunsTheTerminationStepsOnce) {
    auto app = desktop->application();
    int steps = 0;
    app->setTerminationHandler([&] {
        ++steps;
        app->terminate();  // a second request while terminating changes nothing
    });
    app->terminate();
    EXPECT_EQ(steps, 1);
    EXPECT_TRUE(app->isTerminated());
}

}  // namespace
}  // namespace tovalo::sim
