// The `tovalo` executable, and the program's composition root in use. Until the desktop backend
// exists this is a headless demo: the real object graph (the same CompositionRoot the tests
// build) runs against the simulated desktop on virtual time, with the real preferences file,
// machine id and hashing. It opens two simulated windows, pins one, locks and unlocks the
// screen, quits, and narrates what the program did. Nothing is sent anywhere.

#include <cstdio>
#include <memory>
#include <string>

#include "app/composition_root.h"
#include "base/manual_dispatch_runtime.h"
#include "capture/window_stream_controller_factory.h"
#include "platform/linux/machine_id_identity.h"
#include "platform/linux/openssl_hasher.h"
#include "platform/linux/terminate_handler_hooks.h"
#include "platform/posix/file_preferences_store.h"
#include "platform/posix/xdg_paths.h"
#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_analytics_client.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_desktop_appearance.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_operating_system_info.h"
#include "platform/sim/sim_screens.h"
#include "platform/sim/sim_symbol_lookup.h"
#include "platform/sim/sim_video_layer.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/sim/sim_window_server.h"
#include "platform/sim/sim_workspace.h"
#include "prefs/notification_name.h"
#include "prefs/preferences.h"

namespace {

using namespace tovalo;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
}

std::string describe(const Rect& r) {
    return rectToString(r);
}

}  // namespace

int main() {
    const XdgPaths paths(XdgPaths::processEnvironment());
    const auto configDir = paths.tovaloConfigDir();
    if (!configDir) {
        std::fputs("tovalo: no home directory and no XDG_CONFIG_HOME; cannot keep settings\n",
                   stderr);
        return 1;
    }

    auto runtime = ManualDispatchRuntime::make();
    auto desktop = sim::SimDesktop::make(runtime);
    auto store = std::make_shared<FilePreferencesStore>(
        *configDir + "/preferences.json", desktop->defaultCenter().get(), runtime->clock());
    auto analytics = std::make_shared<sim::SimAnalyticsClient>();
    auto errors = std::make_shared<sim::SimErrorReportingClient>();

    PlatformPorts ports;
    ports.runtime = runtime;
    ports.defaultCenter = desktop->defaultCenter();
    ports.workspaceCenter = desktop->workspaceCenter();
    ports.distributedCenter = desktop->distributedCenter();
    ports.preferences = store;
    ports.windowServer = desktop->windowServer();
    ports.screens = desktop->screens();
    ports.windowFactory = desktop->windowFactory();
    ports.workspace = desktop->workspace();
    ports.application = desktop->application();
    ports.bundleInfo = desktop->bundleInfo();
    ports.operatingSystem = desktop->operatingSystemInfo();
    ports.desktopAppearance = desktop->appearance();
    ports.symbolLookup = std::make_shared<sim::SimSymbolLookup>();
    ports.captureService = desktop->sharedCaptureService();
    ports.videoLayerFactory = std::make_shared<sim::SimVideoLayerFactory>(runtime);
    ports.accessibility = desktop->sharedAccessibilityService();
    ports.errorReportingClient = errors;
    ports.analyticsClient = analytics;
    ports.hasher = std::make_shared<OpenSslHasher>();
    ports.hardwareIdentity = std::make_shared<MachineIdIdentity>();
    ports.uncaughtExceptionHooks = std::make_shared<TerminateHandlerHooks>();
    ports.errorReportingDsn = "https://00000000000000000000000000000000@reports.invalid/0";
    ports.analyticsToken = "00000000000000000000000000000000";

    AppComponents components;

    say("Tovalo headless demo (the X11 desktop backend is not built yet; this runs the real");
    say("program logic against a simulated desktop on virtual time)");
    say("  settings file: " + store->path());

    auto root = std::make_unique<CompositionRoot>(ports, components);
    std::vector<ObserverToken> watchers;
    for (const char* name : {NotificationName::pinnedWindowsShouldSuspend,
                             NotificationName::pinnedWindowsShouldResume}) {
        watchers.push_back(desktop->defaultCenter()->addObserver(
            name, [](const Notification& n) { say("  posted \"" + n.name + "\""); }));
    }

    auto& delegate = *root->appDelegate();
    delegate.prepareApplication();
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    runtime->runUntilIdle();
    for (const auto& event : analytics->events()) {
        say("  analytics \"" + event.name + "\" " + Value(event.properties).debugDescription());
    }
    say("  interface language: " +
        std::string(rawValue(root->appState()->preferredLanguage().get())));

    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    const WindowID notes = desktop->openWindow(editor, "Notes", Rect{120, 80, 800, 600});
    desktop->openWindow(editor, "Drafts", Rect{400, 200, 640, 480});
    say("opened two Editor windows; pinning \"Notes\"");

    std::optional<SCShareableContent> content;
    desktop->captureService().getShareableContent(true, true, [&](ShareableContentResult result) {
        if (auto* found = std::get_if<SCShareableContent>(&result)) {
            content = *found;
        }
    });
    runtime->runUntilIdle();
    if (!content || content->displays.empty()) {
        say("  no shareable content; stopping");
        return 1;
    }
    for (const auto& window : content->windows) {
        if (window.windowID == notes) {
            root->pinnedWindowManager()->present(window, content->displays.front());
        }
    }
    runtime->advanceBy(milliseconds(100));
    for (const auto& [id, entry] : root->pinnedWindowManager()->pinnedWindows().get()) {
        say("  pinned window " + std::to_string(id) + ": overlay \"" + entry.panel->title() +
            "\" at " + describe(entry.panel->frame()) + " (screen coordinates), level floating");
    }

    say("locking and unlocking the screen");
    desktop->lockScreen();
    runtime->runUntilIdle();
    desktop->unlockScreen();
    runtime->runUntilIdle();

    say("quitting");
    delegate.applicationWillTerminate();
    runtime->runUntilIdle();
    say("  pinned windows left: " +
        std::to_string(root->pinnedWindowManager()->pinnedWindows().get().size()));
    watchers.clear();
    root.reset();
    return store->synchronize() ? 0 : 2;
}
