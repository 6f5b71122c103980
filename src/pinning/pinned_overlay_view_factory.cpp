#include "pinning/pinned_overlay_view_factory.h"

#include <utility>

namespace tovalo {

std::shared_ptr<WindowContent> PinnedOverlayViewFactory::makeOverlayRootView(
    std::shared_ptr<WindowStreamControlling> controller, const SCWindow& window,
    const SCDisplay& display, const std::optional<PinnedOverlayState>& initialOverlayState,
    StateChangedCallback onStateChanged, SourceClosedCallback onSourceClosed, AppLanguage locale,
    std::weak_ptr<PinnedWindowDirectory> pinnedWindows) {
    return PinnedOverlayView::create(
        PinnedOverlayView::Inputs{
            .window = window,
            .display = display,
            .streamController = std::move(controller),
            .initialOverlayState = initialOverlayState,
            .onOverlayStateChange = std::move(onStateChanged),
            .onWindowClosed = std::move(onSourceClosed),
            .locale = locale,
            .pinnedWindows = std::move(pinnedWindows),
        },
        dependencies_);
}

}  // namespace tovalo
