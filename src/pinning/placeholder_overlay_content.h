#pragma once

// Stand-in overlay content until the real overlay view exists: it shows nothing and keeps what
// it was built with, so the headless program runs and tests can see what an overlay received
// and play the overlay's part by calling its callbacks.

#include <memory>
#include <optional>

#include "capture/capture_types.h"
#include "capture/window_stream_controlling.h"
#include "pinning/overlay_content_factory.h"
#include "pinning/pinned_overlay_state.h"
#include "platform/platform_window.h"
#include "prefs/app_language.h"

namespace tovalo {

struct PlaceholderOverlayContent final : WindowContent {
    std::shared_ptr<WindowStreamControlling> controller;
    SCWindow window;
    SCDisplay display;
    std::optional<PinnedOverlayState> initialOverlayState;
    OverlayContentFactory::StateChangedCallback onStateChanged;
    OverlayContentFactory::SourceClosedCallback onSourceClosed;
    AppLanguage locale = AppLanguage::system;
};

}  // namespace tovalo
