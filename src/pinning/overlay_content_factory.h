#pragma once

// Builds what an overlay panel shows: the live picture of one pinned window with its controls.
// The pinned window manager calls it when it pins a window and again when the interface
// language changes; the content it returns lives in the panel until the panel is closed.

#include <functional>
#include <memory>
#include <optional>

#include "capture/capture_types.h"
#include "capture/pinned_window_directory.h"
#include "capture/window_stream_controlling.h"
#include "pinning/pinned_overlay_state.h"
#include "platform/platform_window.h"
#include "prefs/app_language.h"

namespace tovalo {

class OverlayContentFactory {
  public:
    // The overlay reports its settings whenever they change.
    using StateChangedCallback = std::function<void(const PinnedOverlayState&)>;
    // The overlay noticed that its source window closed or went full screen.
    using SourceClosedCallback = std::function<void()>;

    virtual ~OverlayContentFactory() = default;

    // `initialOverlayState` seeds the overlay's settings (absent: the global preferences);
    // `locale` is the interface language its texts use; `pinnedWindows` (held weakly) tells
    // whether the window is still pinned. Main thread.
    virtual std::shared_ptr<WindowContent> makeOverlayRootView(
        std::shared_ptr<WindowStreamControlling> controller, const SCWindow& window,
        const SCDisplay& display, const std::optional<PinnedOverlayState>& initialOverlayState,
        StateChangedCallback onStateChanged, SourceClosedCallback onSourceClosed,
        AppLanguage locale, std::weak_ptr<PinnedWindowDirectory> pinnedWindows) = 0;
};

}  // namespace tovalo
