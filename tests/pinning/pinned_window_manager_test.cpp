#include "pinning/pinned_window_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "base/manual_dispatch_runtime.h"
#include "pinning/pinning_world.h"

namespace tovalo {
namespace {

constexpr WindowStyleMask kOverlayPanelStyle = 32898;  // closable, non-activating, full size

const PinnedOverlayState kDimmedClickTopLeft{0.4, OverlayActivationMode::click,
                                             OverlayButtonPosition::topLeading};
const PinnedOverlayState kOpaqueNoneBottomRight{std::nullopt, OverlayActivationMode::none,
                                                OverlayButtonPosition::bottomTrailing};

// One editor window ("Notes", 800x600 at 100,100) on the primary display of a simulated desktop,
// with the manager's debug lines recorded.
class PinnedWindowManagerTest : public ::testing::Test {
  protected:
    // Deliveries and timers still queued would otherwise outlive the runtime.
    void TearDown() override { runtime->runUntilIdle(); }

    PinnedWindowManager& manager() { return *world.manager; }
    std::shared_ptr<RecordingStreamController> controller(std::size_t index) {
        return world.controllers->made.at(index);
    }

    std::vector<DebugLogLine> linesSaying(const std::string& message) const {
        std::vector<DebugLogLine> found;
        for (const auto& line : lines) {
            if (line.message == message) {
                found.push_back(line);
            }
        }
        return found;
    }
    static Value property(const DebugLogLine& line, const std::string& key) {
        for (const auto& [name, value] : line.properties) {
            if (name == key) {
                return value;
            }
        }
        return Value();
    }

    // Nothing about the window is left anywhere, the display cache included once its pending
    // writes ran.
    void expectForgotten(WindowID windowID) {
        runtime->runUntilIdle();
        EXPECT_FALSE(manager().pinnedWindows().get().contains(windowID));
        EXPECT_FALSE(manager().overlayStates().contains(windowID));
        EXPECT_FALSE(manager().cachedSnapshots().contains(windowID));
        EXPECT_FALSE(manager().windowCloseObserverIDs().contains(windowID));
        EXPECT_TRUE(manager().panelsBeingClosed().empty());
        EXPECT_EQ(manager().pinnedDisplayID(windowID), std::nullopt);
    }

    static WindowSnapshotDetails snapshotOf(const SCWindow& window) {
        WindowSnapshotDetails snapshot;
        snapshot.id = window.windowID;
        snapshot.windowID = window.windowID;
        snapshot.title = window.title.value_or(kUntitledWindowTitle);
        snapshot.appName = "Editor";
        return snapshot;
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    PinningWorld world{runtime};
    SCWindow notes = world.openEditorWindow("Notes", Rect{100, 100, 800, 600});
    SCDisplay primary = world.primaryDisplay();
    std::vector<DebugLogLine> lines;
    ScopedDebugLogSink sink{[this](const DebugLogLine& line) {
        if (line.tag == "PinnedWindow") {
            lines.push_back(line);
        }
    }};
};

TEST_F(PinnedWindowManagerTest, PresentOpensAFloatingPanelOverTheSourceWithItsOwnController) {
    int publications = 0;
    auto subscription = manager().pinnedWindows().subscribe(
        [&](const PinnedWindowManager::PinnedWindowMap&) { ++publications; });

    manager().present(notes, primary);

    auto panel = world.panelOf(notes.windowID);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isPanel());
    EXPECT_EQ(panel->styleMask(), kOverlayPanelStyle);
    EXPECT_EQ(panel->level(), WindowLevel::floating);
    EXPECT_EQ(panel->title(), "Notes");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isKeyWindow());
    // Until the placement runs the panel sits at the window-server frame as given.
    EXPECT_EQ(panel->frame(), notes.frame);

    ASSERT_EQ(world.controllers->made.size(), 1u);
    EXPECT_EQ(controller(0)->stopCount, 0) << "capture is the overlay's to start";
    const auto entry = manager().pinnedWindows().get().at(notes.windowID);
    EXPECT_EQ(entry.controller, controller(0));
    EXPECT_EQ(entry.window, notes);
    EXPECT_EQ(entry.display, primary);
    EXPECT_EQ(publications, 1);

    auto content = world.contentOf(notes.windowID);
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->controller, entry.controller);
    EXPECT_EQ(content->window, notes);
    EXPECT_EQ(content->display, primary);
    EXPECT_EQ(content->initialOverlayState, std::nullopt);
    EXPECT_EQ(content->locale, world.appState->preferredLanguage().get());

    EXPECT_TRUE(manager().overlayStates().empty());
    EXPECT_TRUE(manager().windowCloseObserverIDs().contains(notes.windowID));
    runtime->runUntilIdle();
    EXPECT_EQ(manager().pinnedDisplayID(notes.windowID), primary.displayID);

#ifndef TOVALO_NO_DEBUG_LOG
    ASSERT_EQ(linesSaying("present request").size(), 1u);
    EXPECT_EQ(property(linesSaying("present request")[0], "existing"), Value(false));
    ASSERT_EQ(linesSaying("overlay created").size(), 1u);
    const auto created = linesSaying("overlay created")[0];
    EXPECT_EQ(property(created, "window_id"), Value(notes.windowID));
    EXPECT_EQ(property(created, "panel"), Value(panel->windowNumber()));
    EXPECT_EQ(property(created, "display_id"), Value(primary.displayID));
#endif
}

TEST_F(PinnedWindowManagerTest, RestoredSettingsAreKeptAndSeedTheOverlay) {
    manager().present(notes, primary, kDimmedClickTopLeft);

    EXPECT_EQ(manager().overlayStates().at(notes.windowID), kDimmedClickTopLeft);
    EXPECT_EQ(world.contentOf(notes.windowID)->initialOverlayState, kDimmedClickTopLeft);
}

TEST_F(PinnedWindowManagerTest, PanelTitleFallsBackOnlyForAWindowWithoutTitle) {
    struct Case {
        std::optional<std::string> title;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, "Untitled Window"},
        {"", ""},
        {"Notes", "Notes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const SCWindow window = world.openEditorWindow(c.title, Rect{50, 50, 400, 300});
        manager().present(window, primary);
        EXPECT_EQ(world.panelOf(window.windowID)->title(), c.expected);
    }
}

TEST_F(PinnedWindowManagerTest, PinningTwiceKeepsOnePanelAndOnlyBringsItForward) {
    manager().present(notes, primary);
    auto panel = world.panelOf(notes.windowID);
    panel->orderOut();

    manager().present(notes, primary, kDimmedClickTopLeft);

    EXPECT_EQ(world.desktop->windowFactory()->madeCount(), 1);
    EXPECT_EQ(world.controllers->made.size(), 1u);
    EXPECT_EQ(world.contents->buildCount(), 1u);
    EXPECT_EQ(world.panelOf(notes.windowID), panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->isKeyWindow());
    EXPECT_TRUE(manager().overlayStates().empty()) << "the settings of a second pin are ignored";
#ifndef TOVALO_NO_DEBUG_LOG
    const auto requests = linesSaying("present request");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(property(requests[1], "existing"), Value(true));
    EXPECT_EQ(linesSaying("reused existing panel").size(), 1u);
#endif
}

// Where the panel goes 0.1 s after pinning and whom the placement brings forward.
TEST_F(PinnedWindowManagerTest, PlacementMovesThePanelOverTheSourceAndRaisesItsOwner) {
    world.desktop->addDisplay(Rect{1440, 300, 1280, 800});
    auto nameless = world.desktop->launchApp("", "Nameless");
    struct Case {
        const char* name;
        std::function<SCWindow()> makeWindow;
        bool activatesThisApp;
        std::shared_ptr<sim::SimRunningApplication> activatedOwner;
    };
    const Case cases[] = {
        {"running owner",
         [&] {
             return world.openEditorWindow("Doc", {1500, 400, 600, 400});
         },
         true, world.editor},
        {"owner without bundle identifier",
         [&] {
             return world.describeWindow(
                 world.desktop->openWindow(nameless, "Scratch", {200, 150, 300, 200}));
         },
         true, nameless},
        {"owner no longer running",
         [&] {
             auto window = world.openEditorWindow("Doc", {200, 150, 300, 200});
             window.owningApplication->bundleIdentifier = "org.example.Gone";
             return window;
         },
         true, nullptr},
        {"no owning application",
         [&] {
             auto window = world.openEditorWindow("Doc", {200, 150, 300, 200});
             window.owningApplication.reset();
             return window;
         },
         false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto mainWindow = world.desktop->windowFactory()->makeWindow(
            {Rect{0, 0, 900, 600}, WindowStyle::titled, false, "Tovalo"});
        mainWindow->makeKeyAndOrderFront();
        auto otherWindow = world.desktop->windowFactory()->makeWindow(
            {Rect{0, 0, 300, 200}, WindowStyle::titled, false, "Settings"});
        otherWindow->orderFront();
        const auto selfActivations = world.desktop->application()->activationCalls().size();
        const auto editorActivations = world.editor->activationCount();
        const auto namelessActivations = nameless->activationCount();

        const SCWindow window = c.makeWindow();
        manager().present(window, primary);
        auto panel = world.panelOf(window.windowID);
        runtime->advanceBy(seconds(0.099));
        EXPECT_EQ(panel->frame(), window.frame);
        EXPECT_FALSE(mainWindow->isClosed());

        runtime->advanceBy(seconds(0.001));
        EXPECT_EQ(panel->frame(), world.desktop->toScreenRect(window.frame));
        const auto selfCalls = world.desktop->application()->activationCalls();
        if (c.activatesThisApp) {
            ASSERT_EQ(selfCalls.size(), selfActivations + 1);
            EXPECT_TRUE(selfCalls.back()) << "ignoring other applications";
        } else {
            EXPECT_EQ(selfCalls.size(), selfActivations);
        }
        EXPECT_EQ(world.editor->activationCount() - editorActivations,
                  c.activatedOwner == world.editor ? 1 : 0);
        EXPECT_EQ(nameless->activationCount() - namelessActivations,
                  c.activatedOwner == nameless ? 1 : 0);
        if (c.activatedOwner) {
            EXPECT_TRUE(c.activatedOwner->activationCalls().back());
            EXPECT_EQ(world.desktop->frontmostPID(), c.activatedOwner->processIdentifier());
        }
        EXPECT_TRUE(mainWindow->isClosed()) << "the main window makes way in every case";
        EXPECT_FALSE(otherWindow->isClosed());
        otherWindow->close();
    }
}

TEST_F(PinnedWindowManagerTest, UnpinStopsCaptureClosesThePanelAndForgetsTheWindowEverywhere) {
    const SCWindow other = world.openEditorWindow("Other", Rect{300, 300, 400, 300});
    manager().present(notes, primary, kDimmedClickTopLeft);
    manager().present(other, primary, kOpaqueNoneBottomRight);
    manager().storeCachedSnapshot(notes.windowID, snapshotOf(notes));
    manager().storeCachedSnapshot(other.windowID, snapshotOf(other));
    auto panel = world.panelOf(notes.windowID);
    runtime->runUntilIdle();

    manager().close(notes.windowID);

    EXPECT_EQ(controller(0)->stopCount, 1) << "stopped once, by close alone";
    EXPECT_TRUE(panel->isClosed());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(panel->content(), nullptr);
    EXPECT_GE(panel->orderOutCount(), 1);
    expectForgotten(notes.windowID);

    // The other pinned window is untouched.
    EXPECT_EQ(controller(1)->stopCount, 0);
    EXPECT_FALSE(world.panelOf(other.windowID)->isClosed());
    EXPECT_EQ(manager().overlayStates().at(other.windowID), kOpaqueNoneBottomRight);
    EXPECT_TRUE(manager().cachedSnapshots().contains(other.windowID));
    EXPECT_EQ(manager().pinnedDisplayID(other.windowID), primary.displayID);
#ifndef TOVALO_NO_DEBUG_LOG
    ASSERT_EQ(linesSaying("close request").size(), 1u);
    EXPECT_EQ(property(linesSaying("close request")[0], "panel"), Value(panel->windowNumber()));
    EXPECT_EQ(linesSaying("close completed").size(), 1u);
    EXPECT_TRUE(linesSaying("panel willClose").empty()) << "its own closing is not unpinned again";
#endif
}

TEST_F(PinnedWindowManagerTest, UnpinningAWindowThatIsNotPinnedChangesNothing) {
    manager().present(notes, primary, kDimmedClickTopLeft);
    runtime->runUntilIdle();
    int publications = 0;
    auto subscription = manager().pinnedWindows().subscribe(
        [&](const PinnedWindowManager::PinnedWindowMap&) { ++publications; });
    const auto before = manager().pinnedWindows().get();
    lines.clear();

    manager().close(notes.windowID + 1000);
    manager().closeWindows({});
    runtime->runUntilIdle();

    EXPECT_EQ(manager().pinnedWindows().get(), before);
    EXPECT_EQ(publications, 0);
    EXPECT_EQ(controller(0)->stopCount, 0);
    EXPECT_EQ(manager().overlayStates().size(), 1u);
    EXPECT_EQ(manager().pinnedDisplayID(notes.windowID), primary.displayID);
    EXPECT_TRUE(lines.empty()) << "ignored without a message";
}

TEST_F(PinnedWindowManagerTest, UnpinFromABackgroundQueueTakesEffectOnTheMainQueue) {
    struct Case {
        const char* name;
        std::function<void(PinnedWindowManager&, WindowID)> unpin;
    };
    const Case cases[] = {
        {"close", [](PinnedWindowManager& m, WindowID id) { m.close(id); }},
        {"closeAll", [](PinnedWindowManager& m, WindowID) { m.closeAll(); }},
        {"closeWindows", [](PinnedWindowManager& m, WindowID id) { m.closeWindows({id}); }},
    };
    auto background = runtime->makeSerialQueue("background");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SCWindow window = world.openEditorWindow("Doc", Rect{10, 10, 300, 200});
        manager().present(window, primary);
        auto stopped = world.controllers->made.back();
        bool stoppedOnMain = false;
        stopped->onStop = [&] { stoppedOnMain = runtime->isMainThread(); };
        bool pinnedWhenCallReturned = false;

        background->async([&] {
            c.unpin(manager(), window.windowID);
            pinnedWhenCallReturned = manager().isPinned(window.windowID);
        });
        runtime->runUntilIdle();

        EXPECT_TRUE(pinnedWhenCallReturned) << "the call only queued the work";
        EXPECT_EQ(stopped->stopCount, 1);
        EXPECT_TRUE(stoppedOnMain);
        expectForgotten(window.windowID);
    }
}

TEST_F(PinnedWindowManagerTest, CloseAllAndCloseWindowsUnpinWhatTheyName) {
    const SCWindow second = world.openEditorWindow("Second", Rect{10, 10, 300, 200});
    const SCWindow third = world.openEditorWindow("Third", Rect{20, 20, 300, 200});
    for (const auto& window : {notes, second, third}) {
        manager().present(window, primary);
    }

    manager().closeWindows({notes.windowID, third.windowID, 9999});
    EXPECT_EQ(manager().pinnedWindows().get().size(), 1u);
    EXPECT_TRUE(manager().isPinned(second.windowID));

    manager().closeAll();
    EXPECT_TRUE(manager().pinnedWindows().get().empty());
    for (const auto& made : world.controllers->made) {
        EXPECT_EQ(made->stopCount, 1);
    }
    for (const auto& window : {notes, second, third}) {
        expectForgotten(window.windowID);
    }
}

TEST_F(PinnedWindowManagerTest, PanelClosedByOtherMeansCleansUpTheSameMaps) {
    manager().present(notes, primary, kDimmedClickTopLeft);
    manager().storeCachedSnapshot(notes.windowID, snapshotOf(notes));
    auto panel = world.panelOf(notes.windowID);
    runtime->runUntilIdle();

    ASSERT_TRUE(world.desktop->closeWindow(panel->windowNumber()));

    EXPECT_TRUE(panel->isClosed());
    EXPECT_EQ(controller(0)->stopCount, 1);
    expectForgotten(notes.windowID);
#ifndef TOVALO_NO_DEBUG_LOG
    ASSERT_EQ(linesSaying("panel willClose").size(), 1u);
    EXPECT_EQ(property(linesSaying("panel willClose")[0], "panel"), Value(panel->windowNumber()));
#endif

    manager().close(notes.windowID);
    EXPECT_EQ(controller(0)->stopCount, 1) << "a later unpin finds nothing to do";
    EXPECT_TRUE(linesSaying("close request").empty());
}

TEST_F(PinnedWindowManagerTest, ACloseReenteredWhileClosingIsSkipped) {
    manager().present(notes, primary);
    auto panel = world.panelOf(notes.windowID);
    // Stopping capture calls back into the manager, as an overlay noticing the stop might.
    controller(0)->onStop = [&] { manager().close(notes.windowID); };

    manager().close(notes.windowID);

    EXPECT_EQ(controller(0)->stopCount, 1);
    EXPECT_TRUE(panel->isClosed());
    expectForgotten(notes.windowID);
#ifndef TOVALO_NO_DEBUG_LOG
    EXPECT_EQ(linesSaying("close skipped (in-progress)").size(), 1u);
    EXPECT_EQ(linesSaying("close completed").size(), 1u);
#endif
}

TEST_F(PinnedWindowManagerTest, LanguageChangeRebuildsEveryOverlayKeepingItsSettings) {
    const SCWindow reported = world.openEditorWindow("Reported", Rect{10, 10, 300, 200});
    const SCWindow plain = world.openEditorWindow("Plain", Rect{20, 20, 300, 200});
    manager().present(notes, primary, kDimmedClickTopLeft);
    manager().present(reported, primary);
    manager().present(plain, primary);
    world.contentOf(reported.windowID)->onStateChanged(kOpaqueNoneBottomRight);
    const auto pinnedBefore = manager().pinnedWindows().get();
    std::vector<std::shared_ptr<PlaceholderOverlayContent>> contentsBefore;
    for (const auto& window : {notes, reported, plain}) {
        contentsBefore.push_back(world.contentOf(window.windowID));
    }
    runtime->runUntilIdle();
    int publications = 0;
    auto subscription = manager().pinnedWindows().subscribe(
        [&](const PinnedWindowManager::PinnedWindowMap&) { ++publications; });
    lines.clear();

    world.localization->apply(AppLanguage::chinese);
    runtime->runUntilIdle();

    EXPECT_EQ(manager().pinnedWindows().get(), pinnedBefore) << "same panels and controllers";
    EXPECT_EQ(publications, 3);
    const std::optional<PinnedOverlayState> expectedStates[] = {
        kDimmedClickTopLeft, kOpaqueNoneBottomRight, std::nullopt};
    std::size_t index = 0;
    for (const auto& window : {notes, reported, plain}) {
        SCOPED_TRACE(*window.title);
        auto content = world.contentOf(window.windowID);
        const auto& entry = pinnedBefore.at(window.windowID);
        ASSERT_NE(content, nullptr);
        EXPECT_NE(content, contentsBefore[index]) << "rebuilt";
        EXPECT_EQ(content->locale, AppLanguage::chinese);
        EXPECT_EQ(content->initialOverlayState, expectedStates[index]);
        EXPECT_EQ(content->controller, entry.controller);
        EXPECT_EQ(content->window, window);
        EXPECT_EQ(content->display, primary);
        EXPECT_EQ(world.controllers->made[index]->stopCount, 1) << "the new overlay restarts it";
        EXPECT_TRUE(entry.panel->isVisible());
        EXPECT_EQ(manager().pinnedDisplayID(window.windowID), primary.displayID);
        ++index;
    }
    EXPECT_EQ(manager().overlayStates().size(), 2u);
#ifndef TOVALO_NO_DEBUG_LOG
    ASSERT_EQ(linesSaying("refreshOverlayLanguages").size(), 1u);
    EXPECT_EQ(property(linesSaying("refreshOverlayLanguages")[0], "count"), Value(3));
    EXPECT_EQ(linesSaying("overlay refreshed").size(), 3u);
#endif
}

TEST_F(PinnedWindowManagerTest, AnOverlayThatUnpinsWhileBeingRebuiltStaysUnpinned) {
    const SCWindow other = world.openEditorWindow("Other", Rect{10, 10, 300, 200});
    manager().present(notes, primary);
    manager().present(other, primary);
    // Stopping capture for the rebuild makes the first overlay find its source gone.
    auto firstPanel = world.panelOf(notes.windowID);
    auto firstContent = world.contentOf(notes.windowID);
    controller(0)->onStop = [&] { firstContent->onSourceClosed(); };

    manager().refreshOverlayLanguages();

    EXPECT_FALSE(manager().isPinned(notes.windowID));
    EXPECT_TRUE(firstPanel->isClosed());
    EXPECT_EQ(firstPanel->content(), nullptr) << "no new overlay in a closed panel";
    expectForgotten(notes.windowID);
    EXPECT_TRUE(manager().isPinned(other.windowID));
    EXPECT_FALSE(world.panelOf(other.windowID)->isClosed());
}

TEST_F(PinnedWindowManagerTest, AnOverlayWhoseSourceIsGoneWhenRebuiltIsNotInstalled) {
    manager().present(notes, primary);
    auto panel = world.panelOf(notes.windowID);
    world.contents->onBuild = [](PlaceholderOverlayContent& content) { content.onSourceClosed(); };

    manager().refreshOverlayLanguages();

    EXPECT_TRUE(panel->isClosed());
    EXPECT_EQ(panel->content(), nullptr);
    expectForgotten(notes.windowID);
}

TEST_F(PinnedWindowManagerTest, OverlayCallbacksReachTheManagerWhileTheWindowIsPinned) {
    manager().present(notes, primary);
    auto content = world.contentOf(notes.windowID);

    content->onStateChanged(kDimmedClickTopLeft);
    EXPECT_EQ(manager().overlayStates().at(notes.windowID), kDimmedClickTopLeft);

    content->onSourceClosed();
    EXPECT_FALSE(manager().isPinned(notes.windowID));
#ifndef TOVALO_NO_DEBUG_LOG
    ASSERT_EQ(linesSaying("overlay onWindowClosed").size(), 1u);
    EXPECT_EQ(property(linesSaying("overlay onWindowClosed")[0], "window_id"),
              Value(notes.windowID));
#endif

    // Reports that arrive after the unpin leave nothing behind.
    content->onStateChanged(kOpaqueNoneBottomRight);
    manager().storeCachedSnapshot(notes.windowID, snapshotOf(notes));
    expectForgotten(notes.windowID);
}

TEST_F(PinnedWindowManagerTest, DeferredWorkAndCallbacksDoNothingOnceTheManagerIsGone) {
    auto mainWindow = world.desktop->windowFactory()->makeWindow(
        {Rect{0, 0, 900, 600}, WindowStyle::titled, false, "Tovalo"});
    mainWindow->orderFront();
    manager().present(notes, primary);
    auto content = world.contentOf(notes.windowID);
    std::weak_ptr<PinnedWindowManager> weakManager = world.manager;

    world.manager.reset();
    ASSERT_TRUE(weakManager.expired()) << "nothing queued keeps the manager alive";
    runtime->advanceBy(seconds(1));
    content->onStateChanged(kDimmedClickTopLeft);
    content->onSourceClosed();
    world.localization->apply(AppLanguage::chinese);
    runtime->runUntilIdle();

    EXPECT_EQ(world.editor->activationCount(), 0);
    EXPECT_FALSE(mainWindow->isClosed());
    EXPECT_EQ(world.contents->buildCount(), 1u);
}

}  // namespace
}  // namespace tovalo
