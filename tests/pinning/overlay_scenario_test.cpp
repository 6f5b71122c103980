// The whole program on the simulated desktop with three pinned windows: after every step of a
// session (move, minimise, switch desktops, lock the screen, unpin) each overlay shows what a
// user would see: where its panel is, whether it is shown, whether it captures, how opaque it is.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "app/app_harness.h"
#include "pinning/pinned_overlay_view.h"
#include "platform/sim/sim_running_application.h"

namespace tovalo {
namespace {

class ThreeOverlaysScenarioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app.launch();
        app.desktop->movePointer(Point{-1000, -1000});
        editor = app.desktop->launchApp("org.example.Editor", "Editor");
    }

    WindowID pin(const std::string& title, const Rect& frame) {
        const WindowID windowID = app.desktop->openWindow(editor, title, frame);
        const auto display = app.desktop->displays().front();
        manager().present(SCWindow{windowID, frame, title,
                                   SCRunningApplication{"org.example.Editor", "Editor",
                                                        editor->processIdentifier()},
                                   true},
                          SCDisplay{display.displayID, display.frame, 1440, 900});
        panels[windowID] = manager().pinnedWindows().get().at(windowID).panel;
        return windowID;
    }

    PinnedWindowManager& manager() { return *app.root->pinnedWindowManager(); }
    std::shared_ptr<RecordingStreamController> controllerOf(WindowID windowID) {
        return std::dynamic_pointer_cast<RecordingStreamController>(
            manager().pinnedWindows().get().at(windowID).controller);
    }
    std::shared_ptr<PinnedOverlayView> viewOf(WindowID windowID) {
        return std::dynamic_pointer_cast<PinnedOverlayView>(panels.at(windowID)->content());
    }

    // Lets everything settle and hands each running capture its first frame, as the capture
    // service would.
    void settle() {
        app.runtime->advanceBy(seconds(0.5));
        for (const auto& [windowID, entry] : manager().pinnedWindows().get()) {
            auto controller = controllerOf(windowID);
            if (controller->isCapturing().get() && controller->onFirstFrame) {
                controller->onFirstFrame();
            }
        }
        app.runtime->advanceBy(seconds(0.5));
    }

    // Shown over its source, capturing, fully opaque; or hidden and not capturing.
    void expectOverlay(WindowID windowID, bool shown, const std::string& step) {
        SCOPED_TRACE(step + ", window " + std::to_string(windowID));
        ASSERT_TRUE(manager().isPinned(windowID));
        const auto& panel = panels.at(windowID);
        EXPECT_EQ(panel->isVisible(), shown);
        EXPECT_EQ(controllerOf(windowID)->isCapturing().get(), shown);
        EXPECT_EQ(viewOf(windowID)->isOverlayTemporarilyHidden(), !shown);
        if (shown) {
            EXPECT_EQ(panel->frame(),
                      app.desktop->toScreenRect(app.desktop->window(windowID)->frame));
            EXPECT_EQ(viewOf(windowID)->presentedOpacity().get(), 1.0);
        }
    }

    AppHarness app;
    std::shared_ptr<sim::SimRunningApplication> editor;
    std::map<WindowID, PlatformWindowRef> panels;
};

TEST_F(ThreeOverlaysScenarioTest, EachOverlayShowsWhatTheUserExpectsAfterEveryStep) {
    const WindowID notes = pin("Notes", Rect{100, 100, 600, 400});
    const WindowID draft = pin("Draft", Rect{300, 250, 500, 300});
    const WindowID chart = pin("Chart", Rect{800, 150, 400, 300});
    settle();
    for (WindowID id : {notes, draft, chart}) {
        expectOverlay(id, true, "pinned");
    }

    for (int step = 0; step < 5; ++step) {
        app.desktop->moveWindow(notes, 10, 6);
        app.runtime->advanceBy(seconds(0.05));
    }
    settle();
    expectOverlay(notes, true, "moved");
    EXPECT_EQ(controllerOf(notes)->started.size(), 2u);
    expectOverlay(draft, true, "moved");
    expectOverlay(chart, true, "moved");
    EXPECT_EQ(controllerOf(chart)->started.size(), 1u);

    app.desktop->minimize(draft);
    settle();
    expectOverlay(notes, true, "minimised");
    expectOverlay(draft, false, "minimised");
    expectOverlay(chart, true, "minimised");

    app.desktop->moveToDesktop(chart, 2);
    app.desktop->switchDesktop(2);
    settle();
    expectOverlay(notes, false, "on desktop 2");
    expectOverlay(draft, false, "on desktop 2");
    expectOverlay(chart, true, "on desktop 2");

    app.desktop->switchDesktop(1);
    settle();
    expectOverlay(notes, true, "back on desktop 1");
    expectOverlay(draft, false, "back on desktop 1");
    expectOverlay(chart, false, "back on desktop 1");

    app.desktop->lockScreen();
    settle();
    for (WindowID id : {notes, draft, chart}) {
        expectOverlay(id, false, "locked");
    }

    app.desktop->unlockScreen();
    settle();
    expectOverlay(notes, true, "unlocked");
    expectOverlay(draft, false, "unlocked");
    expectOverlay(chart, false, "unlocked");

    std::map<WindowID, std::shared_ptr<RecordingStreamController>> controllers;
    for (WindowID id : {notes, draft, chart}) {
        controllers[id] = controllerOf(id);
    }
    manager().closeAll();
    settle();
    for (WindowID id : {notes, draft, chart}) {
        SCOPED_TRACE("unpinned, window " + std::to_string(id));
        EXPECT_FALSE(manager().isPinned(id));
        EXPECT_TRUE(panels.at(id)->isClosed());
        EXPECT_FALSE(panels.at(id)->isVisible());
        EXPECT_FALSE(controllers.at(id)->isCapturing().get());
    }
}

}  // namespace
}  // namespace tovalo
