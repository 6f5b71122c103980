#pragma once

// The pinned window manager on a simulated desktop, with recording stream controllers and
// placeholder overlay contents, for the pinning tests and the concurrency tests. The desktop
// starts with one 1440x900 display and an editor application; tests open windows and pin them.

#include <memory>
#include <ostream>

#include "base/dispatch_runtime.h"
#include "base/in_memory_preferences_store.h"
#include "capture/capture_types.h"
#include "pinning/pinned_window_manager.h"
#include "pinning/placeholder_overlay_content.h"
#include "pinning/placeholder_overlay_content_factory.h"
#include "support/recording_stream_controller.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_platform_window.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_screens.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/sim/sim_workspace.h"
#include "prefs/app_state.h"
#include "prefs/localization_manager.h"

namespace tovalo {

// Readable test failures: "{opacity 0.4, click, topLeading}".
inline void PrintTo(const PinnedOverlayState& state, std::ostream* out) {
    *out << "{opacity ";
    if (state.opacity) {
        *out << *state.opacity;
    } else {
        *out << "global";
    }
    *out << ", " << rawValue(state.activationMode) << ", " << rawValue(state.buttonPosition) << "}";
}

struct PinningWorld {
    explicit PinningWorld(std::shared_ptr<DispatchRuntime> dispatch)
        : runtime(std::move(dispatch)),
          desktop(sim::SimDesktop::make(runtime)),
          store(std::make_shared<InMemoryPreferencesStore>(desktop->defaultCenter().get())),
          appState(AppState::create(*store, *desktop->defaultCenter())),
          localization(
              LocalizationManager::create(store, desktop->defaultCenter(), *runtime, appState)),
          editor(desktop->launchApp("org.example.Editor", "Editor")),
          manager(PinnedWindowManager::create({runtime, desktop->windowFactory(),
                                               desktop->screens(), desktop->workspace(),
                                               desktop->application(), desktop->defaultCenter(),
                                               appState, controllers, contents})) {}

    // The window as the capture service describes it now.
    SCWindow describeWindow(WindowID windowID) const {
        const auto state = desktop->window(windowID);
        SCWindow window;
        window.windowID = windowID;
        if (!state) {
            return window;
        }
        window.frame = state->frame;
        window.title = state->title;
        window.isOnScreen = state->isOnScreen;
        if (auto owner = desktop->app(state->ownerPID)) {
            window.owningApplication = SCRunningApplication{
                owner->bundleIdentifier(), owner->localizedName(), owner->processIdentifier()};
        }
        return window;
    }

    SCDisplay describeDisplay(DisplayID displayID) const {
        SCDisplay display;
        for (const auto& candidate : desktop->displays()) {
            if (candidate.displayID == displayID) {
                display.displayID = candidate.displayID;
                display.frame = candidate.frame;
                display.width = static_cast<std::uint32_t>(candidate.frame.width());
                display.height = static_cast<std::uint32_t>(candidate.frame.height());
            }
        }
        return display;
    }

    SCDisplay primaryDisplay() const { return describeDisplay(desktop->primaryDisplayID()); }

    // Opens an editor window and returns how the capture service would describe it.
    SCWindow openEditorWindow(std::optional<std::string> title, const Rect& frame) {
        return describeWindow(desktop->openWindow(editor, std::move(title), frame));
    }

    // The pinned window's panel and its content; null when it is not pinned.
    std::shared_ptr<sim::SimPlatformWindow> panelOf(WindowID windowID) const {
        const auto pinned = manager->pinnedWindows().get();
        auto it = pinned.find(windowID);
        return it == pinned.end()
                   ? nullptr
                   : std::dynamic_pointer_cast<sim::SimPlatformWindow>(it->second.panel);
    }
    std::shared_ptr<PlaceholderOverlayContent> contentOf(WindowID windowID) const {
        auto panel = panelOf(windowID);
        return panel ? std::dynamic_pointer_cast<PlaceholderOverlayContent>(panel->content())
                     : nullptr;
    }

    std::shared_ptr<DispatchRuntime> runtime;
    std::shared_ptr<sim::SimDesktop> desktop;
    std::shared_ptr<InMemoryPreferencesStore> store;
    std::shared_ptr<AppState> appState;
    std::shared_ptr<LocalizationManager> localization;
    std::shared_ptr<sim::SimRunningApplication> editor;
    std::shared_ptr<RecordingStreamControllerFactory> controllers =
        std::make_shared<RecordingStreamControllerFactory>();
    std::shared_ptr<PlaceholderOverlayContentFactory> contents =
        std::make_shared<PlaceholderOverlayContentFactory>();
    // Declared last: built from everything above.
    std::shared_ptr<PinnedWindowManager> manager;
};

}  // namespace tovalo
