// The overlay over a pinned window, on the simulated desktop: it starts capture when first
// shown, follows, hides and shows its panel with the source, unpins when the source goes full
// screen or closes, and keeps its own settings.

#include "pinning/pinned_overlay_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/debug_log.h"
#include "pinning/overlay_world.h"
#include "prefs/notification_name.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

const Rect kNotesFrame{100, 100, 800, 600};

class PinnedOverlayViewTest : public ::testing::Test {
  protected:
    void SetUp() override { world.desktop->movePointer(Point{-1000, -1000}); }

    // Pins "Notes", lets it settle and delivers its first frame.
    WindowID pinNotes(std::optional<PinnedOverlayState> state = std::nullopt) {
        const WindowID id = world.pin("Notes", kNotesFrame, state);
        world.settle();
        firstFrame(id);
        return id;
    }
    void firstFrame(WindowID id) {
        if (auto controller = world.controllerOf(id); controller && controller->onFirstFrame) {
            controller->onFirstFrame();
        }
        world.settle();
    }
    std::size_t startsOf(WindowID id) { return world.controllerOf(id)->started.size(); }

    OverlayWorld world;
};

TEST_F(PinnedOverlayViewTest, CaptureStartsWhenShownAndTheCopyFadesInOnItsFirstFrame) {
    const WindowID id = world.pin("Notes", kNotesFrame);
    world.runtime->runUntilIdle();
    auto view = world.viewOf(id);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(world.controllerOf(id)->started, std::vector<WindowID>{id});
    EXPECT_EQ(view->presentedOpacity().get(), 0.0);

    world.controllerOf(id)->onFirstFrame();
    world.runtime->advanceBy(seconds(0.11));
    EXPECT_EQ(view->presentedOpacity().get(), 0.0);
    world.runtime->advanceBy(seconds(0.01));
    EXPECT_EQ(view->presentedOpacity().get(), 1.0);
    EXPECT_EQ(world.panelOf(id)->frame(), world.expectedPanelFrame(id));
    EXPECT_TRUE(world.panelOf(id)->isVisible());
}

TEST_F(PinnedOverlayViewTest, MovingForASecondRestartsCaptureOnceAFifthOfASecondAfterTheLastMove) {
    const WindowID id = pinNotes();
    ASSERT_EQ(startsOf(id), 1u);

    for (int step = 0; step < 20; ++step) {
        world.desktop->moveWindow(id, 5, 2);
        world.runtime->advanceBy(seconds(0.05));
    }
    // 0.05 s after the last move: following, not capturing, the copy hidden.
    auto view = world.viewOf(id);
    EXPECT_EQ(world.panelOf(id)->frame(), world.expectedPanelFrame(id));
    EXPECT_TRUE(view->isAdjustingOverlayFrame());
    EXPECT_FALSE(view->isCapturing());
    EXPECT_EQ(view->presentedOpacity().get(), 0.0);
    EXPECT_EQ(startsOf(id), 1u);

    world.runtime->advanceBy(seconds(0.14));
    EXPECT_EQ(startsOf(id), 1u);
    world.runtime->advanceBy(seconds(0.02));
    EXPECT_EQ(startsOf(id), 2u);
    world.runtime->advanceBy(seconds(2));
    EXPECT_EQ(startsOf(id), 2u);
    EXPECT_TRUE(view->isCapturing());
}

TEST_F(PinnedOverlayViewTest, MinimisingHidesAndStopsCaptureRestoringShowsAtTheNewFrame) {
    const WindowID id = pinNotes();
    auto panel = world.panelOf(id);

    world.desktop->minimize(id);
    world.settle();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(world.controllerOf(id)->isCapturing().get());
    EXPECT_EQ(panel->level(), WindowLevel::floating);

    world.desktop->setFrame(id, Rect{300, 200, 500, 400});
    world.desktop->restore(id);
    world.settle();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->frame(), world.desktop->toScreenRect(Rect{300, 200, 500, 400}));
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
    EXPECT_EQ(world.viewOf(id)->overlaySize(), (Size{500, 400}));
}

TEST_F(PinnedOverlayViewTest, ADesktopWithoutTheSourceHidesItAndGoingBackRestartsCapture) {
    const WindowID id = pinNotes();
    auto panel = world.panelOf(id);

    world.desktop->switchDesktop(2);
    world.settle();
    EXPECT_FALSE(panel->isVisible());
    EXPECT_FALSE(world.controllerOf(id)->isCapturing().get());
    EXPECT_FALSE(world.viewOf(id)->isSourceOnActiveSpace());

    world.desktop->switchDesktop(1);
    world.settle();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
    EXPECT_EQ(startsOf(id), 2u);
}

TEST_F(PinnedOverlayViewTest, EnteringFullScreenUnpinsAndLeavingItDoesNotPinAgain) {
    const WindowID id = pinNotes();
    auto panel = world.panelOf(id);
    auto controller = world.controllerOf(id);

    world.desktop->setFullScreen(id, true);
    world.settle();
    EXPECT_FALSE(world.manager->isPinned(id));
    EXPECT_TRUE(panel->isClosed());
    EXPECT_FALSE(controller->isCapturing().get());

    world.desktop->setFullScreen(id, false);
    world.settle();
    EXPECT_FALSE(world.manager->isPinned(id));
    EXPECT_EQ(controller->started.size(), 1u);
}

struct SuspendCase {
    const char* name;
    std::vector<const char*> announcements;
    bool visibleAfter;
    std::size_t startsAfter;
};

class OverlaySuspendTest : public PinnedOverlayViewTest,
                           public ::testing::WithParamInterface<SuspendCase> {};

TEST_P(OverlaySuspendTest, SuspendHidesResumeShowsAndAResumeAloneChangesNothing) {
    const WindowID id = pinNotes();
    const int orderOutsBefore = world.panelOf(id)->orderOutCount();
    for (const char* name : GetParam().announcements) {
        world.desktop->defaultCenter()->post(name);
        world.settle();
    }
    EXPECT_EQ(world.panelOf(id)->isVisible(), GetParam().visibleAfter);
    EXPECT_EQ(world.controllerOf(id)->isCapturing().get(), GetParam().visibleAfter);
    EXPECT_EQ(startsOf(id), GetParam().startsAfter);
    if (GetParam().visibleAfter && GetParam().startsAfter == 1) {
        EXPECT_EQ(world.panelOf(id)->orderOutCount(), orderOutsBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Announcements, OverlaySuspendTest,
    ::testing::Values(
        SuspendCase{"Suspend", {NotificationName::pinnedWindowsShouldSuspend}, false, 1},
        SuspendCase{"SuspendThenResume",
                    {NotificationName::pinnedWindowsShouldSuspend,
                     NotificationName::pinnedWindowsShouldResume},
                    true,
                    2},
        SuspendCase{"SuspendTwiceThenResume",
                    {NotificationName::pinnedWindowsShouldSuspend,
                     NotificationName::pinnedWindowsShouldSuspend,
                     NotificationName::pinnedWindowsShouldResume},
                    true,
                    2},
        SuspendCase{"ResumeAlone", {NotificationName::pinnedWindowsShouldResume}, true, 1}),
    [](const auto& testParam) { return std::string(testParam.param.name); });

TEST_F(PinnedOverlayViewTest, ModeNoneStartsSeeThroughAndReportsIt) {
    world.store->setString(PreferenceKey::overlayActivationMode, "none");
    const WindowID id = pinNotes();
    auto view = world.viewOf(id);

    EXPECT_EQ(view->presentedOpacity().get(), 0.7);
    EXPECT_TRUE(world.panelOf(id)->ignoresMouseEvents());
    EXPECT_EQ(
        world.manager->overlayStates().at(id),
        (PinnedOverlayState{0.7, OverlayActivationMode::none, OverlayButtonPosition::topTrailing}));
}

TEST_F(PinnedOverlayViewTest, ARestoredOverrideOpacityWinsOverTheGlobalOne) {
    world.store->setDouble(PreferenceKey::overlayOpacity, 0.9);
    const PinnedOverlayState restored{0.4, OverlayActivationMode::hover,
                                      OverlayButtonPosition::bottomLeading};
    const WindowID id = pinNotes(restored);

    EXPECT_EQ(world.viewOf(id)->presentedOpacity().get(), 0.4);
    EXPECT_EQ(world.manager->overlayStates().at(id), restored);
}

TEST_F(PinnedOverlayViewTest, ARestoredOpacityInModeNoneIsKept) {
    const PinnedOverlayState restored{0.5, OverlayActivationMode::none,
                                      OverlayButtonPosition::topTrailing};
    const WindowID id = pinNotes(restored);
    EXPECT_EQ(world.viewOf(id)->presentedOpacity().get(), 0.5);
    EXPECT_EQ(world.manager->overlayStates().at(id), restored);
}

TEST_F(PinnedOverlayViewTest, UnrecognisedStoredSettingsFallBackToHoverAndTopTrailing) {
    world.store->setString(PreferenceKey::overlayActivationMode, "wiggle");
    world.store->setString(PreferenceKey::overlayButtonPosition, "middle");
    const WindowID id = pinNotes();
    EXPECT_EQ(world.viewOf(id)->activationMode(), OverlayActivationMode::hover);
    EXPECT_EQ(world.viewOf(id)->buttonPosition(), OverlayButtonPosition::topTrailing);
}

TEST_F(PinnedOverlayViewTest, SettingChangesAreReportedAndNeverTouchTheGlobalPreferences) {
    const WindowID id = pinNotes();
    auto view = world.viewOf(id);
    view->setOverrideOpacity(0.3);
    view->setOverrideButtonPosition(OverlayButtonPosition::bottomTrailing);
    view->setOverrideActivationMode(OverlayActivationMode::click);

    EXPECT_EQ(world.manager->overlayStates().at(id),
              (PinnedOverlayState{0.3, OverlayActivationMode::click,
                                  OverlayButtonPosition::bottomTrailing}));
    EXPECT_EQ(view->presentedOpacity().get(), 0.3);
    EXPECT_FALSE(world.store->contains(PreferenceKey::overlayOpacity));
    EXPECT_FALSE(world.store->contains(PreferenceKey::overlayActivationMode));
}

TEST_F(PinnedOverlayViewTest, ACaptureErrorFadesTheCopyOut) {
    const WindowID id = pinNotes();
    auto view = world.viewOf(id);
    world.controllerOf(id)->hasError().set(true);
    world.runtime->advanceBy(seconds(0.08));
    EXPECT_EQ(view->presentedOpacity().get(), 0.0);
    EXPECT_EQ(view->interactionState(), OverlayInteractionState::capturing);
}

TEST_F(PinnedOverlayViewTest, AnOlderFadeFinishingLateDoesNotOverwriteANewerOpacity) {
    const WindowID id = world.pin("Notes", kNotesFrame);
    world.runtime->runUntilIdle();
    auto view = world.viewOf(id);
    world.controllerOf(id)->onFirstFrame();  // fades in over 0.12 s
    world.runtime->advanceBy(seconds(0.05));
    view->setOverrideOpacity(0.6);
    world.settle();
    EXPECT_EQ(view->presentedOpacity().get(), 0.6);
}

// ---- Bad input ----

struct OddFrameCase {
    const char* name;
    Rect frame;
    bool captures;
};

class OverlayOddFrameTest : public PinnedOverlayViewTest,
                            public ::testing::WithParamInterface<OddFrameCase> {};

TEST_P(OverlayOddFrameTest, AnOddSourceFrameNeitherCrashesNorCapturesNothing) {
    const WindowID id = world.pin("Odd", GetParam().frame);
    world.settle();
    ASSERT_TRUE(world.manager->isPinned(id));
    EXPECT_EQ(world.panelOf(id)->frame(), world.expectedPanelFrame(id));
    EXPECT_EQ(!world.controllerOf(id)->started.empty(), GetParam().captures);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, OverlayOddFrameTest,
    ::testing::Values(OddFrameCase{"ZeroSize", Rect{100, 100, 0, 0}, false},
                      OddFrameCase{"NegativeWidth", Rect{100, 100, -50, 40}, false},
                      OddFrameCase{"OffEveryScreen", Rect{5000, 5000, 400, 300}, true},
                      OddFrameCase{"AboveAndLeftOfEveryScreen", Rect{-3000, -2000, 400, 300},
                                   true}),
    [](const auto& testParam) { return std::string(testParam.param.name); });

TEST_F(PinnedOverlayViewTest, ASourceGoneBeforeTheOverlayIsPlacedUnpinsItQuietly) {
    const WindowID id = world.pin("Notes", kNotesFrame);
    auto controller = world.controllerOf(id);
    auto panel = world.panelOf(id);
    world.desktop->closeWindow(id);
    world.settle();
    EXPECT_FALSE(world.manager->isPinned(id));
    EXPECT_TRUE(panel->isClosed());
    EXPECT_FALSE(controller->isCapturing().get());
}

TEST_F(PinnedOverlayViewTest, TheSourceClosingAndTheCloseButtonUnpinOnce) {
    std::vector<DebugLogLine> lines;
    ScopedDebugLogSink sink([&lines](const DebugLogLine& line) { lines.push_back(line); });
    const WindowID id = pinNotes();
    auto view = world.viewOf(id);

    world.desktop->closeWindow(id);
    view->requestUnpin();
    world.settle();
    view->requestUnpin();

    std::size_t unpins = 0;
    for (const auto& line : lines) {
        if (line.message == "overlay onWindowClosed") {
            ++unpins;
        }
    }
    EXPECT_EQ(unpins, 1u);
    EXPECT_FALSE(world.manager->isPinned(id));
}

TEST_F(PinnedOverlayViewTest, CallbacksArrivingAfterTheOverlayClosedChangeNothing) {
    const WindowID id = pinNotes();
    auto view = world.viewOf(id);
    auto controller = world.controllerOf(id);
    auto panel = world.panelOf(id);
    auto firstFrameOfTheClosedOverlay = controller->onFirstFrame;
    const double opacityBefore = view->presentedOpacity().get();
    world.desktop->moveWindow(id, 40, 0);  // reported in a later turn, after the unpin

    world.manager->close(id);
    ASSERT_TRUE(view->isClosed());
    firstFrameOfTheClosedOverlay();
    controller->hasError().set(true);
    view->handlePointerHover(true);
    view->handleTap();
    view->setShowMenu(true);
    view->setOverrideOpacity(0.2);
    world.desktop->defaultCenter()->post(NotificationName::pinnedWindowsShouldResume);
    world.desktop->switchDesktop(2);
    world.settle();

    EXPECT_EQ(view->presentedOpacity().get(), opacityBefore);
    EXPECT_EQ(controller->started.size(), 1u);
    EXPECT_FALSE(controller->isCapturing().get());
    EXPECT_TRUE(panel->isClosed());
    EXPECT_TRUE(world.manager->overlayStates().empty());
}

TEST_F(PinnedOverlayViewTest, ALanguageChangeRebuildsTheOverlayWhichCapturesAgainWithItsSettings) {
    const WindowID id = pinNotes();
    world.viewOf(id)->setOverrideOpacity(0.5);
    auto before = world.viewOf(id);

    world.desktop->defaultCenter()->post(NotificationName::languagePreferenceDidChange);
    world.settle();

    auto after = world.viewOf(id);
    ASSERT_NE(after, before);
    EXPECT_TRUE(before->isClosed());
    EXPECT_EQ(after->overrideOpacity(), 0.5);
    EXPECT_TRUE(after->isCapturing());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
}

}  // namespace
}  // namespace tovalo
