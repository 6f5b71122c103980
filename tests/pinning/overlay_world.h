#pragma once

// The pinned window manager with live overlay views on a simulated desktop, on virtual time: the
// overlays follow the desktop's windows through the real source observer, read the real window
// server and capture-content provider, and drive recording stream controllers, so a test can
// script the desktop and check what each overlay shows. The desktop starts with one 1440x900
// display and an editor application.
//
//   OverlayWorld world;
//   WindowID notes = world.pin("Notes", Rect{100, 100, 800, 600});
//   world.settle();                           // placed, shown and capturing
//   world.desktop->minimize(notes);
//   world.settle();
//   EXPECT_FALSE(world.panelOf(notes)->isVisible());

#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "capture/app_activator.h"
#include "capture/window_capture_context_provider.h"
#include "capture/window_server_info.h"
#include "pinning/pinned_overlay_view.h"
#include "pinning/pinned_overlay_view_factory.h"
#include "pinning/pinned_window_manager.h"
#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_platform_window.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_screens.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/sim/sim_window_server.h"
#include "platform/sim/sim_workspace.h"
#include "prefs/app_state.h"
#include "support/recording_stream_controller.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

struct OverlayWorld {
    OverlayWorld() {
        store = std::make_shared<InMemoryPreferencesStore>(desktop->defaultCenter().get());
        appState = AppState::create(*store, *desktop->defaultCenter());
        editor = desktop->launchApp("org.example.Editor", "Editor");
        windowServerInfo = WindowServerInfo::create(desktop->windowServer(), runtime);
        std::weak_ptr<WindowServerInfo> weakInfo = windowServerInfo;
        contextProvider = WindowCaptureContextProvider::create({
            .runtime = runtime,
            .captureService = desktop->sharedCaptureService(),
            .windowInfo = [weakInfo](WindowID windowID) -> std::optional<ValueMap> {
                auto info = weakInfo.lock();
                return info ? info->windowInfo(windowID) : std::nullopt;
            },
            .workspace = desktop->workspace(),
            .bundleInfo = desktop->bundleInfo(),
            .preferences = store,
            .defaultCenter = desktop->defaultCenter(),
            .errorReporter = reporter,
        });
        manager = PinnedWindowManager::create({
            .runtime = runtime,
            .windowFactory = desktop->windowFactory(),
            .screens = desktop->screens(),
            .workspace = desktop->workspace(),
            .application = desktop->application(),
            .defaultCenter = desktop->defaultCenter(),
            .appState = appState,
            .streamControllerFactory = controllers,
            .overlayContentFactory =
                std::make_shared<PinnedOverlayViewFactory>(PinnedOverlayView::Dependencies{
                    .runtime = runtime,
                    .preferences = store,
                    .defaultCenter = desktop->defaultCenter(),
                    .workspaceCenter = desktop->workspaceCenter(),
                    .screens = desktop->screens(),
                    .application = desktop->application(),
                    .workspace = desktop->workspace(),
                    .accessibility = desktop->sharedAccessibilityService(),
                    .windowServerInfo = windowServerInfo,
                    .appActivator = std::make_shared<AppActivator>(AppActivator::Dependencies{
                        desktop->sharedAccessibilityService(), windowServerInfo, reporter}),
                    .contextProvider = contextProvider,
                }),
        });
        runtime->runUntilIdle();
    }

    ~OverlayWorld() {
        // The overlays leave their panels before the desktop they watch goes.
        manager->closeAll();
        runtime->runUntilIdle();
    }

    OverlayWorld(const OverlayWorld&) = delete;
    OverlayWorld& operator=(const OverlayWorld&) = delete;

    // The window as the capture service describes it now.
    SCWindow describeWindow(WindowID windowID) const {
        SCWindow window;
        window.windowID = windowID;
        if (const auto state = desktop->window(windowID)) {
            window.frame = state->frame;
            window.title = state->title;
            window.isOnScreen = state->isOnScreen;
            if (auto owner = desktop->app(state->ownerPID)) {
                window.owningApplication = SCRunningApplication{
                    owner->bundleIdentifier(), owner->localizedName(), owner->processIdentifier()};
            }
        }
        return window;
    }

    SCDisplay primaryDisplay() const {
        const auto display = desktop->displays().front();
        return SCDisplay{display.displayID, display.frame,
                         static_cast<std::uint32_t>(display.frame.width()),
                         static_cast<std::uint32_t>(display.frame.height())};
    }

    // Opens an editor window and pins it; nothing has run yet.
    WindowID pin(const std::string& title, const Rect& frame,
                 std::optional<PinnedOverlayState> overlayState = std::nullopt) {
        const WindowID windowID = desktop->openWindow(editor, title, frame);
        manager->present(describeWindow(windowID), primaryDisplay(), overlayState);
        return windowID;
    }

    // Long enough for every overlay to be placed, shown and capturing, and every fade to end.
    void settle() { runtime->advanceBy(seconds(0.5)); }

    std::shared_ptr<sim::SimPlatformWindow> panelOf(WindowID windowID) const {
        const auto pinned = manager->pinnedWindows().get();
        const auto it = pinned.find(windowID);
        return it == pinned.end()
                   ? nullptr
                   : std::dynamic_pointer_cast<sim::SimPlatformWindow>(it->second.panel);
    }
    std::shared_ptr<PinnedOverlayView> viewOf(WindowID windowID) const {
        auto panel = panelOf(windowID);
        return panel ? std::dynamic_pointer_cast<PinnedOverlayView>(panel->content()) : nullptr;
    }
    std::shared_ptr<RecordingStreamController> controllerOf(WindowID windowID) const {
        const auto pinned = manager->pinnedWindows().get();
        const auto it = pinned.find(windowID);
        return it == pinned.end()
                   ? nullptr
                   : std::dynamic_pointer_cast<RecordingStreamController>(it->second.controller);
    }

    // Where the panel over `windowID` belongs: its window-server frame in screen coordinates.
    Rect expectedPanelFrame(WindowID windowID) const {
        return desktop->toScreenRect(desktop->window(windowID)->frame);
    }

    // Moves the pointer into the middle of the window's panel (or far away) and tells the
    // overlay, as the panel's tracking area would.
    void pointerEnters(WindowID windowID) {
        const Rect frame = panelOf(windowID)->frame();
        desktop->movePointer(Point{frame.midX(), frame.midY()});
        viewOf(windowID)->handlePointerHover(true);
    }
    void pointerLeaves(WindowID windowID) {
        desktop->movePointer(Point{-1000, -1000});
        viewOf(windowID)->handlePointerHover(false);
    }

    const std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    const std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    sim::SimErrorReportingClient errorClient;
    sim::SimUncaughtExceptionHooks hooks;
    const std::shared_ptr<ErrorReporter> reporter = std::make_shared<ErrorReporter>(
        errorClient, hooks, "https://0123456789abcdef0123456789abcdef@host/42");
    std::shared_ptr<InMemoryPreferencesStore> store;
    std::shared_ptr<AppState> appState;
    std::shared_ptr<sim::SimRunningApplication> editor;
    std::shared_ptr<WindowServerInfo> windowServerInfo;
    std::shared_ptr<WindowCaptureContextProvider> contextProvider;
    const std::shared_ptr<RecordingStreamControllerFactory> controllers =
        std::make_shared<RecordingStreamControllerFactory>();
    std::shared_ptr<PinnedWindowManager> manager;
};

}  // namespace tovalo
