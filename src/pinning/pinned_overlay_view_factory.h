#pragma once

// The overlay content the pinned window manager installs in each panel: a PinnedOverlayView
// wired to the program's desktop services. Built once by the composition root (or a test) with
// the collaborators every overlay shares; each call makes a fresh view. Main thread.

#include <memory>

#include "pinning/overlay_content_factory.h"
#include "pinning/pinned_overlay_view.h"

namespace tovalo {

class PinnedOverlayViewFactory final : public OverlayContentFactory {
  public:
    explicit PinnedOverlayViewFactory(PinnedOverlayView::Dependencies dependencies)
        : dependencies_(std::move(dependencies)) {}

    std::shared_ptr<WindowContent> makeOverlayRootView(
        std::shared_ptr<WindowStreamControlling> controller, const SCWindow& window,
        const SCDisplay& display, const std::optional<PinnedOverlayState>& initialOverlayState,
        StateChangedCallback onStateChanged, SourceClosedCallback onSourceClosed,
        AppLanguage locale, std::weak_ptr<PinnedWindowDirectory> pinnedWindows) override;

  private:
    const PinnedOverlayView::Dependencies dependencies_;
};

}  // namespace tovalo
