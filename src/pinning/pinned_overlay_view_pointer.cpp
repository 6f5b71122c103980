// PinnedOverlayView: handing the pointer over to the source window. `hover` reveals the source
// while the pointer rests on the overlay, `click` toggles the reveal on a tap, `none` never
// reveals and lets every click outside the controls fall through the panel.

#include "pinning/pinned_overlay_view.h"

namespace tovalo {

void PinnedOverlayView::hostWindowMouseInteractivity() {
    auto panel = host();
    if (!panel) {
        return;
    }
    const bool ignores =
        overrideActivationMode_ == OverlayActivationMode::none ||
        (interactionState_ == OverlayInteractionState::revealing && !isHoveringControls_);
    panel->setIgnoresMouseEvents(ignores);
    log("hostWindowMouseInteractivity", {{"ignores", ignores}});
}

void PinnedOverlayView::handlePointerHover(bool isInside) {
    if (closed_) {
        return;
    }
    isPointerInsideOverlay_ = isInside;
    if (isAdjustingOverlayFrame_) {
        return;
    }
    if (!isPinned()) {
        stopCaptureIfNeeded();
        interactionState_ = OverlayInteractionState::capturing;
        hostWindowMouseInteractivity();
        return;
    }
    if (showMenu_ || isOverlayTemporarilyHidden_) {
        return;
    }
    switch (overrideActivationMode_) {
        case OverlayActivationMode::hover:
            if (isInside) {
                beginReveal();
            } else {
                endReveal(false);
            }
            break;
        case OverlayActivationMode::click:
            if (!isInside) {
                endReveal(false);
            }
            break;
        case OverlayActivationMode::none:
            break;
    }
    log("hoverChange", {{"is_hovering", isInside}});
}

void PinnedOverlayView::handleTap() {
    if (closed_ || overrideActivationMode_ != OverlayActivationMode::click) {
        return;
    }
    if (interactionState_ == OverlayInteractionState::revealing) {
        isPointerInsideOverlay_ = false;
        endReveal(true);
    } else {
        isPointerInsideOverlay_ = true;
        beginReveal();
    }
    log("clickActivation", {{"state", std::string(rawValue(interactionState_))}});
}

void PinnedOverlayView::beginReveal() {
    if (overrideActivationMode_ == OverlayActivationMode::none || !isPinned() ||
        interactionState_ == OverlayInteractionState::revealing) {
        return;
    }
    // Without the permission the source cannot be raised, but the copy still steps aside.
    if (axTrusted_) {
        if (auto element = deps_.appActivator->getAXWindow(window_.windowID)) {
            deps_.accessibility->performAction(element, AXAction::raise);
        }
        deps_.application->activate(true);
        if (window_.owningApplication) {
            const auto owners =
                deps_.workspace->runningApplications(window_.owningApplication->bundleIdentifier);
            if (!owners.empty() && owners.front()) {
                owners.front()->activate(true);
            }
        }
    }
    stopCaptureIfNeeded();
    interactionState_ = OverlayInteractionState::revealing;
    revealAnimationToken_ = Uuid::random();
    if (opacity_ < kFullyOpaque) {
        animateOpacity(1.0, kRevealStepDuration);
        const Uuid token = revealAnimationToken_;
        after(kRevealStepDuration, [token](PinnedOverlayView& view) {
            // The user may have left (or come back) within the step: that reveal is over.
            if (view.interactionState_ == OverlayInteractionState::revealing &&
                view.revealAnimationToken_ == token) {
                view.animateOpacity(0.0, kRevealFadeOutDuration);
            }
        });
    } else {
        animateOpacity(0.0, kRevealFadeOutDuration);
    }
    hostWindowMouseInteractivity();
}

void PinnedOverlayView::endReveal(bool force) {
    if (interactionState_ != OverlayInteractionState::revealing) {
        return;
    }
    if (!force && (isPointerInsideOverlay_ || isHoveringControls_ ||
                   deps_.application->pressedMouseButtons() != 0)) {
        return;
    }
    interactionState_ = OverlayInteractionState::capturing;
    setOpacity(baseOpacity());
    ensureCaptureState();
    hostWindowMouseInteractivity();
    log("endReveal", {{"force", force}});
}

void PinnedOverlayView::onHoveringControlsChanged(bool isHovering) {
    if (closed_) {
        return;
    }
    auto panel = host();
    if (!panel) {
        return;
    }
    panel->setIgnoresMouseEvents(
        isHovering ? false : overrideActivationMode_ == OverlayActivationMode::none);
    isHoveringControls_ = isHovering;
    if (isHovering) {
        return;
    }
    later([](PinnedOverlayView& view) {
        if (!view.isHoveringControls_) {
            view.handlePointerHover(view.pointerInsideHost());
        }
    });
}

void PinnedOverlayView::setShowMenu(bool isOpen) {
    if (closed_ || isOpen == showMenu_) {
        return;
    }
    showMenu_ = isOpen;
    auto panel = host();
    if (!isPinned() || !panel) {
        return;
    }
    if (isOpen) {
        panel->setIgnoresMouseEvents(false);
        return;
    }
    const bool passThrough = overrideActivationMode_ == OverlayActivationMode::none;
    if (passThrough) {
        panel->setIgnoresMouseEvents(true);
        ensureCaptureState();
    } else {
        panel->setIgnoresMouseEvents(false);
        if (!isCapturing_) {
            setOpacity(baseOpacity());
            startCapture();
        }
    }
    isHoveringControls_ = false;
    const bool inside = !passThrough && pointerInsideHost();
    if (!passThrough) {
        isPointerInsideOverlay_ = inside;
    }
    handlePointerHover(inside);
}

void PinnedOverlayView::applyActivationMode() {
    auto panel = host();
    if (!isPinned() || !panel) {
        return;
    }
    if (overrideActivationMode_ == OverlayActivationMode::none) {
        interactionState_ = OverlayInteractionState::capturing;
        isPointerInsideOverlay_ = false;
        isHoveringControls_ = false;
        panel->setIgnoresMouseEvents(true);
        setOpacity(baseOpacity());
        updateOverlayVisibility();
        return;
    }
    panel->setIgnoresMouseEvents(false);
    if (interactionState_ == OverlayInteractionState::revealing) {
        endReveal(true);
    } else {
        ensureCaptureState();
    }
    hostWindowMouseInteractivity();
}

}  // namespace tovalo
