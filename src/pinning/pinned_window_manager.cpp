#include "pinning/pinned_window_manager.h"

#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "pinning/screen_coordinates.h"
#include "prefs/notification_name.h"

namespace tovalo {

namespace {

constexpr const char* kLogTag = "PinnedWindow";
// The main window is recognised by its title.
constexpr const char* kMainWindowTitle = "Tovalo";
constexpr Duration kPlacementDelay = seconds(0.1);
constexpr WindowStyleMask kPanelStyle =
    WindowStyle::closable | WindowStyle::nonactivatingPanel | WindowStyle::fullSizeContentView;

std::int64_t panelNumber(const PlatformWindowRef& panel) {
    return panel ? static_cast<std::int64_t>(panel->windowNumber()) : 0;
}

}  // namespace

PinnedWindowManager::PinnedWindowManager(Dependencies dependencies)
    : runtime_(std::move(dependencies.runtime)),
      windowFactory_(std::move(dependencies.windowFactory)),
      screens_(std::move(dependencies.screens)),
      workspace_(std::move(dependencies.workspace)),
      application_(std::move(dependencies.application)),
      defaultCenter_(std::move(dependencies.defaultCenter)),
      appState_(std::move(dependencies.appState)),
      streamControllerFactory_(std::move(dependencies.streamControllerFactory)),
      overlayContentFactory_(std::move(dependencies.overlayContentFactory)),
      pinnedDisplayCacheQueue_(
          runtime_->makeConcurrentQueue("com.tovalohq.tovalo.pinnedDisplayCache")) {}

PinnedWindowManager::~PinnedWindowManager() = default;

std::shared_ptr<PinnedWindowManager> PinnedWindowManager::create(Dependencies dependencies) {
    std::shared_ptr<PinnedWindowManager> manager(new PinnedWindowManager(std::move(dependencies)));
    manager->observeLanguageChanges();
    return manager;
}

void PinnedWindowManager::observeLanguageChanges() {
    std::weak_ptr<PinnedWindowManager> weak = weak_from_this();
    languageObserver_ =
        defaultCenter_->addObserver(NotificationName::languagePreferenceDidChange,
                                    runtime_->mainQueue(), [weak](const Notification&) {
                                        if (auto self = weak.lock()) {
                                            self->refreshOverlayLanguages();
                                        }
                                    });
}

void PinnedWindowManager::present(const SCWindow& window, const SCDisplay& display,
                                  std::optional<PinnedOverlayState> overlayState) {
    const WindowID windowID = window.windowID;
    const std::string title = window.title.value_or(kUntitledWindowTitle);
    const auto pinned = pinnedWindows_.get();
    const auto existing = pinned.find(windowID);

    TOVALO_DEBUG_LOG(kLogTag, "present request",
                     {{"window_id", windowID}, {"existing", existing != pinned.end()}});
    if (existing != pinned.end()) {
        existing->second.panel->makeKeyAndOrderFront();
        TOVALO_DEBUG_LOG(kLogTag, "reused existing panel", {{"window_id", windowID}});
        return;
    }

    // The window-server frame as it is; the placement below moves the panel into screen
    // coordinates once it is up.
    WindowCreationOptions options;
    options.contentRect = window.frame;
    options.styleMask = kPanelStyle;
    options.isPanel = true;
    PlatformWindowRef panel = windowFactory_->makeWindow(options);
    panel->setLevel(WindowLevel::floating);
    panel->setTitle(title);
    panel->orderFrontRegardless();

    auto controller = streamControllerFactory_->makeController(weak_from_this());
    if (overlayState) {
        overlayStates_[windowID] = *overlayState;
    }

    windowBeingPresented_ = windowID;
    panel->setContent(makeOverlayRootView(controller, window, display));
    panel->makeKeyAndOrderFront();
    windowBeingPresented_.reset();

    auto updated = pinnedWindows_.get();
    updated[windowID] = PinnedWindowEntry{panel, controller, window, display};
    pinnedWindows_.set(std::move(updated));
    updatePinnedDisplayCache(windowID, display.displayID);
    TOVALO_DEBUG_LOG(kLogTag, "overlay created",
                     {{"window_id", windowID},
                      {"panel", panelNumber(panel)},
                      {"display_id", display.displayID}});

    std::weak_ptr<PinnedWindowManager> weak = weak_from_this();
    runtime_->mainQueue()->asyncAfter(kPlacementDelay, [weak, panel, window] {
        if (auto self = weak.lock()) {
            self->placePanelOverSource(*panel, window);
        }
    });

    // The panel keeps this observer, so it refers back to the panel weakly; the entry keeps the
    // panel alive while the window is pinned.
    std::weak_ptr<PlatformWindow> weakPanel = panel;
    windowCloseObservers_[windowID] =
        panel->observeWillClose([weak, controller, windowID, weakPanel] {
            // Copied first: handling removes this very observer.
            auto self = weak.lock();
            auto closingController = controller;
            auto closingPanel = weakPanel.lock();
            if (self) {
                self->handlePanelWillClose(closingController, windowID, closingPanel);
            }
        });
}

void PinnedWindowManager::placePanelOverSource(PlatformWindow& panel, const SCWindow& window) {
    panel.setFrame(toScreenCoordinates(window.frame, *screens_), true);
    if (window.owningApplication) {
        application_->activate(true);
        const auto owners =
            workspace_->runningApplications(window.owningApplication->bundleIdentifier);
        if (!owners.empty()) {
            owners.front()->activate(true);
        }
    }
    for (const auto& candidate : application_->windows()) {
        if (candidate->title() == kMainWindowTitle) {
            candidate->close();
            break;
        }
    }
}

std::shared_ptr<WindowContent> PinnedWindowManager::makeOverlayRootView(
    const std::shared_ptr<WindowStreamControlling>& controller, const SCWindow& window,
    const SCDisplay& display) {
    const WindowID windowID = window.windowID;
    std::optional<PinnedOverlayState> initialOverlayState;
    if (auto it = overlayStates_.find(windowID); it != overlayStates_.end()) {
        initialOverlayState = it->second;
    }
    std::weak_ptr<PinnedWindowManager> weak = weak_from_this();
    auto onStateChanged = [weak, windowID](const PinnedOverlayState& state) {
        if (auto self = weak.lock()) {
            self->storeOverlayState(windowID, state);
        }
    };
    auto onSourceClosed = [weak, windowID] {
        if (auto self = weak.lock()) {
            TOVALO_DEBUG_LOG(kLogTag, "overlay onWindowClosed", {{"window_id", windowID}});
            self->close(windowID);
        }
    };
    return overlayContentFactory_->makeOverlayRootView(
        controller, window, display, initialOverlayState, std::move(onStateChanged),
        std::move(onSourceClosed), appState_->preferredLanguage().get(), weak);
}

void PinnedWindowManager::storeOverlayState(WindowID windowID, const PinnedOverlayState& state) {
    // A report from an overlay whose window is already unpinned would leave a stale entry.
    if (!isPinned(windowID) && windowBeingPresented_ != windowID) {
        return;
    }
    overlayStates_[windowID] = state;
}

bool PinnedWindowManager::hopToMainQueue(std::function<void(PinnedWindowManager&)> work) {
    if (runtime_->isMainThread()) {
        return false;
    }
    std::weak_ptr<PinnedWindowManager> weak = weak_from_this();
    runtime_->mainQueue()->async([weak, work = std::move(work)] {
        if (auto self = weak.lock()) {
            work(*self);
        }
    });
    return true;
}

void PinnedWindowManager::close(WindowID windowID) {
    if (hopToMainQueue([windowID](PinnedWindowManager& self) { self.close(windowID); })) {
        return;
    }
    const auto pinned = pinnedWindows_.get();
    const auto found = pinned.find(windowID);
    if (found == pinned.end()) {
        return;
    }
    if (panelsBeingClosed_.contains(windowID)) {
        TOVALO_DEBUG_LOG(kLogTag, "close skipped (in-progress)", {{"window_id", windowID}});
        return;
    }
    const PinnedWindowEntry entry = found->second;
    panelsBeingClosed_.insert(windowID);
    TOVALO_DEBUG_LOG(kLogTag, "close request",
                     {{"window_id", windowID}, {"panel", panelNumber(entry.panel)}});

    entry.controller->stopCapture();
    // Gone before the panel closes, so its own closing does not unpin it a second time.
    windowCloseObservers_.erase(windowID);
    entry.panel->orderOut();
    entry.panel->setContent(nullptr);
    entry.panel->close();
    forget(windowID);

    TOVALO_DEBUG_LOG(kLogTag, "close completed", {{"window_id", windowID}});
    panelsBeingClosed_.erase(windowID);
}

void PinnedWindowManager::forget(WindowID windowID) {
    auto pinned = pinnedWindows_.get();
    pinned.erase(windowID);
    pinnedWindows_.set(std::move(pinned));
    cachedSnapshots_.erase(windowID);
    overlayStates_.erase(windowID);
    updatePinnedDisplayCache(windowID, std::nullopt);
}

void PinnedWindowManager::closeAll() {
    if (hopToMainQueue([](PinnedWindowManager& self) { self.closeAll(); })) {
        return;
    }
    std::vector<WindowID> windowIDs;
    for (const auto& [windowID, entry] : pinnedWindows_.get()) {
        windowIDs.push_back(windowID);
    }
    for (WindowID windowID : windowIDs) {
        close(windowID);
    }
}

void PinnedWindowManager::closeWindows(const std::set<WindowID>& windowIDs) {
    if (hopToMainQueue([windowIDs](PinnedWindowManager& self) { self.closeWindows(windowIDs); })) {
        return;
    }
    for (WindowID windowID : windowIDs) {
        close(windowID);
    }
}

void PinnedWindowManager::handlePanelWillClose(
    const std::shared_ptr<WindowStreamControlling>& controller, WindowID windowID,
    const PlatformWindowRef& panel) {
    controller->stopCapture();
    forget(windowID);
    windowCloseObservers_.erase(windowID);
    TOVALO_DEBUG_LOG(kLogTag, "panel willClose",
                     {{"window_id", windowID}, {"panel", panelNumber(panel)}});
}

void PinnedWindowManager::refreshOverlayLanguages() {
    const auto pinned = pinnedWindows_.get();
    TOVALO_DEBUG_LOG(kLogTag, "refreshOverlayLanguages", {{"count", pinned.size()}});
    for (const auto& [windowID, entry] : pinned) {
        // Stopping capture or building the overlay may unpin the window (its source is gone);
        // such a window must not get a new overlay or be stored again.
        const auto stillPinned = [this, windowID = windowID, &entry = entry] {
            const auto current = pinnedWindows_.get();
            const auto it = current.find(windowID);
            return it != current.end() && it->second.panel == entry.panel;
        };
        if (!stillPinned()) {
            continue;
        }
        entry.controller->stopCapture();
        if (!stillPinned()) {
            continue;
        }
        auto content = makeOverlayRootView(entry.controller, entry.window, entry.display);
        if (!stillPinned()) {
            continue;
        }
        entry.panel->setContent(std::move(content));
        entry.panel->orderFrontRegardless();
        auto current = pinnedWindows_.get();
        current[windowID] = entry;
        pinnedWindows_.set(std::move(current));
        updatePinnedDisplayCache(windowID, entry.display.displayID);
        TOVALO_DEBUG_LOG(kLogTag, "overlay refreshed",
                         {{"window_id", windowID}, {"panel", panelNumber(entry.panel)}});
    }
}

std::optional<DisplayID> PinnedWindowManager::pinnedDisplayID(WindowID windowID) const {
    // `sync` runs inline when the caller is already a task of the cache queue, so a reader
    // there cannot deadlock on itself.
    return pinnedDisplayCacheQueue_->sync([this, windowID]() -> std::optional<DisplayID> {
        auto it = pinnedDisplayIDCache_.find(windowID);
        if (it == pinnedDisplayIDCache_.end()) {
            return std::nullopt;
        }
        return it->second;
    });
}

void PinnedWindowManager::updatePinnedDisplayCache(WindowID windowID,
                                                   std::optional<DisplayID> displayID) {
    std::weak_ptr<PinnedWindowManager> weak = weak_from_this();
    pinnedDisplayCacheQueue_->asyncBarrier([weak, windowID, displayID] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (displayID) {
            self->pinnedDisplayIDCache_[windowID] = *displayID;
        } else {
            self->pinnedDisplayIDCache_.erase(windowID);
        }
    });
}

bool PinnedWindowManager::isPinned(WindowID windowID) const {
    return pinnedWindows_.get().contains(windowID);
}

void PinnedWindowManager::storeCachedSnapshot(WindowID windowID, WindowSnapshotDetails snapshot) {
    if (!isPinned(windowID)) {
        return;
    }
    cachedSnapshots_[windowID] = std::move(snapshot);
}

std::set<WindowID> PinnedWindowManager::windowCloseObserverIDs() const {
    std::set<WindowID> windowIDs;
    for (const auto& [windowID, observer] : windowCloseObservers_) {
        windowIDs.insert(windowID);
    }
    return windowIDs;
}

}  // namespace tovalo
