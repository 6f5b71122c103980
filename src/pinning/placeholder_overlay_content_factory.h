#pragma once

// An OverlayContentFactory that builds PlaceholderOverlayContent and counts its builds. Used by
// the composition root until the real overlay view exists, and by tests.

#include <cstddef>
#include <functional>

#include "pinning/overlay_content_factory.h"
#include "pinning/placeholder_overlay_content.h"

namespace tovalo {

class PlaceholderOverlayContentFactory final : public OverlayContentFactory {
  public:
    std::shared_ptr<WindowContent> makeOverlayRootView(
        std::shared_ptr<WindowStreamControlling> controller, const SCWindow& window,
        const SCDisplay& display, const std::optional<PinnedOverlayState>& initialOverlayState,
        StateChangedCallback onStateChanged, SourceClosedCallback onSourceClosed,
        AppLanguage locale, std::weak_ptr<PinnedWindowDirectory> pinnedWindows) override;

    // How many contents were built so far. Main thread.
    std::size_t buildCount() const { return buildCount_; }

    // Runs on each content right after it is built, before the manager installs it, as a real
    // overlay that reacts at once would (for example by finding its source gone).
    std::function<void(PlaceholderOverlayContent&)> onBuild;

  private:
    std::size_t buildCount_ = 0;
};

}  // namespace tovalo
