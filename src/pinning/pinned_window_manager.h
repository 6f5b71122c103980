#pragma once

// The one registry of pinned windows. Every way of pinning or unpinning a window ends here. For
// each pinned window it owns one overlay panel and one stream controller, keeps the overlay's
// settings and the window's latest snapshot, and caches the display the window was pinned on
// for readers on other threads. One instance lives for the whole process, built by the
// composition root. Everything runs on the main thread except where a call says otherwise.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/dispatch_queue.h"
#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/published.h"
#include "base/subscription.h"
#include "capture/capture_types.h"
#include "capture/pinned_window_directory.h"
#include "capture/window_snapshot_details.h"
#include "capture/window_stream_controller_factory.h"
#include "pinning/overlay_content_factory.h"
#include "pinning/pinned_overlay_state.h"
#include "pinning/pinned_window_entry.h"
#include "platform/application.h"
#include "platform/platform_window.h"
#include "platform/screens.h"
#include "platform/workspace.h"
#include "prefs/app_state.h"

namespace tovalo {

class PinnedWindowManager : public PinnedWindowDirectory,
                            public std::enable_shared_from_this<PinnedWindowManager> {
  public:
    using PinnedWindowMap = std::map<WindowID, PinnedWindowEntry>;

    // All required.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        // Makes the overlay panels.
        std::shared_ptr<WindowFactory> windowFactory;
        std::shared_ptr<Screens> screens;
        // Finds the source window's application to bring it forward.
        std::shared_ptr<Workspace> workspace;
        // This program: activated with the source, its main window closed.
        std::shared_ptr<Application> application;
        // Carries "languagePreferenceDidChange".
        std::shared_ptr<NotificationCenter> defaultCenter;
        // Its preferred language is the overlays' locale.
        std::shared_ptr<AppState> appState;
        std::shared_ptr<WindowStreamControllerFactory> streamControllerFactory;
        std::shared_ptr<OverlayContentFactory> overlayContentFactory;
    };

    // Starts with nothing pinned and observes "languagePreferenceDidChange" on the main queue,
    // rebuilding the overlays while the manager lives.
    static std::shared_ptr<PinnedWindowManager> create(Dependencies dependencies);

    ~PinnedWindowManager() override;
    PinnedWindowManager(const PinnedWindowManager&) = delete;
    PinnedWindowManager& operator=(const PinnedWindowManager&) = delete;

    // Pins `window` on `display`: an overlay panel over the source, its stream controller and
    // its content; the panel is moved exactly over the source 0.1 s later and the source's
    // application brought forward. `overlayState` (from a restore) seeds the overlay's settings.
    // A window already pinned only has its panel brought forward.
    void present(const SCWindow& window, const SCDisplay& display,
                 std::optional<PinnedOverlayState> overlayState = std::nullopt);

    // Unpins one window: stops its capture, closes its panel and forgets it everywhere. Window
    // IDs that are not pinned are ignored. Any thread: elsewhere than on the main thread it is
    // queued on the main queue and returns at once.
    void close(WindowID windowID);
    // Unpins every pinned window. Any thread, as `close`.
    void closeAll();
    // Unpins every window of the set. Any thread, as `close`.
    void closeWindows(const std::set<WindowID>& windowIDs);

    // Rebuilds every overlay's content for the current interface language, keeping each
    // overlay's settings.
    void refreshOverlayLanguages();

    // The display the window was pinned on, while it is pinned. Any thread, also from a task of
    // the cache's own queue.
    std::optional<DisplayID> pinnedDisplayID(WindowID windowID) const;
    // Sets (display present) or removes the cache entry. Returns at once; the write follows as
    // an exclusive task on the cache's queue and is dropped once the manager is gone.
    void updatePinnedDisplayCache(WindowID windowID, std::optional<DisplayID> displayID);

    // Exactly the pinned windows. Observers run on the main thread; `get` works from any thread.
    Published<PinnedWindowMap>& pinnedWindows() { return pinnedWindows_; }
    bool isPinned(WindowID windowID) const override;

    // The latest still picture of each pinned window.
    const std::map<WindowID, WindowSnapshotDetails>& cachedSnapshots() const {
        return cachedSnapshots_;
    }
    // Keeps `snapshot` as the window's latest picture. Dropped when the window is not pinned (a
    // picture arriving after the unpin), so no entry outlives the pinned window.
    void storeCachedSnapshot(WindowID windowID, WindowSnapshotDetails snapshot) override;

    // The settings overlays reported or a restore supplied, per pinned window.
    const std::map<WindowID, PinnedOverlayState>& overlayStates() const { return overlayStates_; }

    // Windows whose panel is watched for closing by other means, and windows in the middle of
    // being unpinned; both exposed so the registry's invariants can be checked.
    std::set<WindowID> windowCloseObserverIDs() const;
    const std::set<WindowID>& panelsBeingClosed() const { return panelsBeingClosed_; }

  private:
    explicit PinnedWindowManager(Dependencies dependencies);
    void observeLanguageChanges();

    std::shared_ptr<WindowContent> makeOverlayRootView(
        const std::shared_ptr<WindowStreamControlling>& controller, const SCWindow& window,
        const SCDisplay& display);
    void placePanelOverSource(PlatformWindow& panel, const SCWindow& window);
    void handlePanelWillClose(const std::shared_ptr<WindowStreamControlling>& controller,
                              WindowID windowID, const PlatformWindowRef& panel);
    void storeOverlayState(WindowID windowID, const PinnedOverlayState& state);
    void forget(WindowID windowID);
    // Runs `work` with the manager on the main queue when the caller is elsewhere; true then.
    bool hopToMainQueue(std::function<void(PinnedWindowManager&)> work);

    std::shared_ptr<DispatchRuntime> runtime_;
    std::shared_ptr<WindowFactory> windowFactory_;
    std::shared_ptr<Screens> screens_;
    std::shared_ptr<Workspace> workspace_;
    std::shared_ptr<Application> application_;
    std::shared_ptr<NotificationCenter> defaultCenter_;
    std::shared_ptr<AppState> appState_;
    std::shared_ptr<WindowStreamControllerFactory> streamControllerFactory_;
    std::shared_ptr<OverlayContentFactory> overlayContentFactory_;

    Published<PinnedWindowMap> pinnedWindows_;
    std::map<WindowID, WindowSnapshotDetails> cachedSnapshots_;
    ObserverToken languageObserver_;
    std::map<WindowID, Subscription> windowCloseObservers_;
    std::set<WindowID> panelsBeingClosed_;
    std::map<WindowID, PinnedOverlayState> overlayStates_;
    // The window `present` is building, whose overlay may report its settings before the
    // window is in `pinnedWindows_`.
    std::optional<WindowID> windowBeingPresented_;

    std::shared_ptr<DispatchQueue> pinnedDisplayCacheQueue_;
    // Touched only by tasks of `pinnedDisplayCacheQueue_`.
    std::map<WindowID, DisplayID> pinnedDisplayIDCache_;
};

}  // namespace tovalo
