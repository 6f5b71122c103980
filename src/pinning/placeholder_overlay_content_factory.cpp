#include "pinning/placeholder_overlay_content_factory.h"

#include <utility>

namespace tovalo {

std::shared_ptr<WindowContent> PlaceholderOverlayContentFactory::makeOverlayRootView(
    std::shared_ptr<WindowStreamControlling> controller, const SCWindow& window,
    const SCDisplay& display, const std::optional<PinnedOverlayState>& initialOverlayState,
    StateChangedCallback onStateChanged, SourceClosedCallback onSourceClosed, AppLanguage locale,
    std::weak_ptr<PinnedWindowDirectory> /*pinnedWindows*/) {
    ++buildCount_;
    auto content = std::make_shared<PlaceholderOverlayContent>();
    content->controller = std::move(controller);
    content->window = window;
    content->display = display;
    content->initialOverlayState = initialOverlayState;
    content->onStateChanged = std::move(onStateChanged);
    content->onSourceClosed = std::move(onSourceClosed);
    content->locale = locale;
    if (onBuild) {
        onBuild(*content);
    }
    return content;
}

}  // namespace tovalo
