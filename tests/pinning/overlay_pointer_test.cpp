// Handing the pointer from an overlay to its source window: hover reveals while the pointer
// rests on the overlay, click toggles on a tap, none never reveals; revealing raises the source,
// fades the copy out, stops capture and lets clicks through the panel.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pinning/overlay_world.h"
#include "platform/sim/sim_application.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

const Rect kNotesFrame{100, 100, 800, 600};

class OverlayPointerTest : public ::testing::Test {
  protected:
    void SetUp() override { world.desktop->movePointer(Point{-1000, -1000}); }

    // Pins "Notes" in `mode`, lets it settle and delivers its first frame.
    WindowID pinNotes(OverlayActivationMode mode, std::optional<double> opacity = std::nullopt) {
        id = world.pin("Notes", kNotesFrame,
                       PinnedOverlayState{opacity, mode, OverlayButtonPosition::topTrailing});
        world.settle();
        firstFrame();
        return id;
    }
    void firstFrame() {
        if (auto controller = world.controllerOf(id); controller && controller->onFirstFrame) {
            controller->onFirstFrame();
        }
        world.settle();
    }
    PinnedOverlayView& view() { return *world.viewOf(id); }
    bool revealing() { return view().interactionState() == OverlayInteractionState::revealing; }
    std::size_t fadeOuts() {
        const auto requests = world.panelOf(id)->animationRequests();
        return static_cast<std::size_t>(
            std::count(requests.begin(), requests.end(),
                       AnimationRequest{0.0, seconds(0.1), AnimationCurve::easeOut}));
    }

    OverlayWorld world;
    WindowID id = 0;
};

TEST_F(OverlayPointerTest, HoverRevealsTheRaisedSourceAndLeavingBringsTheCopyBack) {
    pinNotes(OverlayActivationMode::hover);
    const auto raisedBefore = world.desktop->accessibilityService().raisedWindows().size();

    world.pointerEnters(id);
    EXPECT_TRUE(revealing());
    EXPECT_GT(world.desktop->accessibilityService().raisedWindows().size(), raisedBefore);
    EXPECT_EQ(world.desktop->frontmostPID(), world.editor->processIdentifier());
    EXPECT_TRUE(world.panelOf(id)->ignoresMouseEvents());
    EXPECT_FALSE(world.controllerOf(id)->isCapturing().get());
    EXPECT_EQ(view().controlAlpha(), 1.0);
    world.runtime->advanceBy(seconds(0.1));
    EXPECT_EQ(view().presentedOpacity().get(), 0.0);

    world.pointerLeaves(id);
    EXPECT_FALSE(revealing());
    EXPECT_FALSE(world.panelOf(id)->ignoresMouseEvents());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
    firstFrame();
    EXPECT_EQ(view().presentedOpacity().get(), 1.0);
}

TEST_F(OverlayPointerTest, LeavingWithAButtonHeldStaysRevealedUntilReleased) {
    pinNotes(OverlayActivationMode::hover);
    world.pointerEnters(id);
    world.settle();

    world.desktop->setPressedMouseButtons(1);  // dragging in the real window
    world.pointerLeaves(id);
    EXPECT_TRUE(revealing());
    EXPECT_FALSE(world.controllerOf(id)->isCapturing().get());

    world.desktop->setPressedMouseButtons(0);
    world.pointerLeaves(id);
    EXPECT_FALSE(revealing());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
}

TEST_F(OverlayPointerTest, ClickModeTogglesOnTapsAndLeavingEndsTheReveal) {
    pinNotes(OverlayActivationMode::click);
    world.pointerEnters(id);
    EXPECT_FALSE(revealing());

    view().handleTap();
    EXPECT_TRUE(revealing());
    view().handleTap();
    EXPECT_FALSE(revealing());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
    view().handleTap();
    EXPECT_TRUE(revealing());

    world.pointerLeaves(id);
    EXPECT_FALSE(revealing());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
}

TEST_F(OverlayPointerTest, TapsDoNothingOutsideClickMode) {
    pinNotes(OverlayActivationMode::none);
    view().handleTap();
    EXPECT_FALSE(revealing());
    world.pointerEnters(id);
    EXPECT_FALSE(revealing());
    EXPECT_TRUE(world.panelOf(id)->ignoresMouseEvents());
}

TEST_F(OverlayPointerTest, SwitchingHoverToNoneWhileRevealingReturnsToTheCopy) {
    pinNotes(OverlayActivationMode::hover);
    world.pointerEnters(id);
    ASSERT_TRUE(revealing());

    view().setOverrideActivationMode(OverlayActivationMode::none);
    EXPECT_FALSE(revealing());
    EXPECT_TRUE(world.panelOf(id)->ignoresMouseEvents());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
    EXPECT_EQ(world.manager->overlayStates().at(id).activationMode, OverlayActivationMode::none);
    firstFrame();
    EXPECT_EQ(view().presentedOpacity().get(), 1.0);
    // The pointer still rests on it, but this mode never reveals.
    view().handlePointerHover(true);
    EXPECT_FALSE(revealing());
}

TEST_F(OverlayPointerTest, AFadeOutOfAnEarlierRevealIsSkipped) {
    pinNotes(OverlayActivationMode::hover, 0.5);
    world.pointerEnters(id);  // 0.5 → 1.0 over 0.08 s, then the fade out
    world.runtime->advanceBy(seconds(0.03));
    world.pointerLeaves(id);
    world.runtime->advanceBy(seconds(0.02));
    world.pointerEnters(id);  // a new reveal before the first one's step ends
    world.settle();

    EXPECT_EQ(fadeOuts(), 1u);
    EXPECT_TRUE(revealing());
    EXPECT_EQ(view().presentedOpacity().get(), 0.0);
}

TEST_F(OverlayPointerTest, WithoutAccessibilityTheCopyStillStepsAsideButNothingIsRaised) {
    world.desktop->setAccessibilityTrusted(false);
    pinNotes(OverlayActivationMode::hover);
    EXPECT_TRUE(view().showsAccessibilityCard());
    const auto selfActivations = world.desktop->application()->activationCalls().size();
    const int editorActivations = world.editor->activationCount();

    world.pointerEnters(id);
    world.settle();
    EXPECT_TRUE(revealing());
    EXPECT_EQ(view().presentedOpacity().get(), 0.0);
    EXPECT_TRUE(world.panelOf(id)->ignoresMouseEvents());
    EXPECT_TRUE(world.desktop->accessibilityService().raisedWindows().empty());
    EXPECT_EQ(world.desktop->application()->activationCalls().size(), selfActivations);
    EXPECT_EQ(world.editor->activationCount(), editorActivations);

    // Granted meanwhile: the card goes once this program is active again.
    world.desktop->setAccessibilityTrusted(true);
    world.desktop->activateApp(world.desktop->selfPID());
    world.settle();
    EXPECT_FALSE(view().showsAccessibilityCard());
}

TEST_F(OverlayPointerTest, TheControlsTakeThePointerWhileRevealedAndLeavingThemEndsTheReveal) {
    pinNotes(OverlayActivationMode::hover);
    world.pointerEnters(id);
    view().onHoveringControlsChanged(true);
    EXPECT_FALSE(world.panelOf(id)->ignoresMouseEvents());
    EXPECT_EQ(view().controlAlpha(), 1.0);

    // The pointer leaves the controls and the overlay at once.
    world.desktop->movePointer(Point{-1000, -1000});
    view().onHoveringControlsChanged(false);
    world.runtime->runUntilIdle();
    EXPECT_FALSE(revealing());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
}

TEST_F(OverlayPointerTest, AnOpenMenuHoldsTheOverlayAndClosingItResumesCapture) {
    pinNotes(OverlayActivationMode::hover);
    view().setShowMenu(true);
    EXPECT_FALSE(world.panelOf(id)->ignoresMouseEvents());
    world.pointerEnters(id);
    EXPECT_FALSE(revealing());

    world.desktop->movePointer(Point{-1000, -1000});
    view().setShowMenu(false);
    EXPECT_FALSE(revealing());
    EXPECT_FALSE(view().isPointerInsideOverlay());
    EXPECT_TRUE(world.controllerOf(id)->isCapturing().get());
}

TEST_F(OverlayPointerTest, AFirstFrameOfACaptureStoppedByARevealDoesNotBringTheCopyBack) {
    id = world.pin("Notes", kNotesFrame);
    world.settle();
    auto staleFirstFrame = world.controllerOf(id)->onFirstFrame;
    world.pointerEnters(id);
    world.settle();
    staleFirstFrame();
    world.settle();
    EXPECT_TRUE(revealing());
    EXPECT_EQ(view().presentedOpacity().get(), 0.0);
}

}  // namespace
}  // namespace tovalo
