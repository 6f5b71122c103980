#pragma once

// The program's object graph on the simulated desktop, for scenario tests: one desktop on virtual
// time, in-memory telemetry clients and preferences behind journaling ports, recording shell
// parts, and the composition root built from all of them. Every start-up call lands in one
// CallJournal; suspend and resume announcements on the default centre are kept in order.
//
//   AppHarness app;
//   app.store->setString("preferredLanguage", "zh-Hans");   // before build()
//   app.launch();                                            // build, then the three start-up
//   phases app.desktop->lockScreen(); app.runtime->runUntilIdle(); EXPECT_EQ(app.announcements,
//   (std::vector<std::string>{"pinnedWindowsShouldSuspend"}));

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/call_journal.h"
#include "app/composition_root.h"
#include "app/journaling_ports.h"
#include "app/recording_shell.h"
#include "base/debug_log.h"
#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "platform/hasher.h"
#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_analytics_client.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_desktop_appearance.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_hardware_identity.h"
#include "platform/sim/sim_operating_system_info.h"
#include "platform/sim/sim_screens.h"
#include "platform/sim/sim_symbol_lookup.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_video_layer.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/sim/sim_window_server.h"
#include "platform/sim/sim_workspace.h"
#include "prefs/app_language.h"
#include "prefs/notification_name.h"
#include "support/recording_stream_controller.h"

namespace tovalo {

// A deterministic stand-in for SHA-256 (FNV-1a spread over 32 bytes): different inputs give
// different digests, which is all the device identifier needs here.
class StandInHasher final : public Hasher {
  public:
    std::array<std::uint8_t, 32> sha256(std::string_view data) const override {
        std::array<std::uint8_t, 32> digest{};
        std::uint64_t h = 1469598103934665603ull;
        for (std::size_t i = 0; i < digest.size() * 4 + data.size(); ++i) {
            const auto byte =
                i < data.size() ? static_cast<std::uint8_t>(data[i]) : std::uint8_t{0};
            h = (h ^ byte) * 1099511628211ull;
            digest[i % digest.size()] ^= static_cast<std::uint8_t>(h >> 32);
        }
        return digest;
    }
};

class AppHarness {
  public:
    static constexpr const char* kDsn = "https://0123456789abcdef0123456789abcdef@reports.test/7";
    static constexpr const char* kAnalyticsToken = "0123456789abcdef0123456789abcdef";

    AppHarness() {
        desktop->operatingSystemInfo()->setVersion({14, 2, 1});
        mainMenu = std::make_shared<MainMenu>(std::vector<MainMenuItem>{
            {"Tovalo", std::vector<MainMenuEntry>{{"Quit Tovalo", "terminate:"}}},
            {"Edit", std::vector<MainMenuEntry>{{"Copy", "copy:"}}},
            {"View", std::vector<MainMenuEntry>{{"Enter Full Screen", "toggleFullScreen:"}}},
            {"Window", std::vector<MainMenuEntry>{{"Minimize", MainMenu::minimizeWindowAction}}},
            {"Help", std::nullopt},
        });
    }

    ~AppHarness() {
        // The graph goes before the desktop and the runtime it runs on. Work the graph queued
        // (and never got to run) holds the runtime that holds it, so it is run out first.
        root.reset();
        runtime->runUntilIdle();
    }

    AppHarness(const AppHarness&) = delete;
    AppHarness& operator=(const AppHarness&) = delete;

    PlatformPorts ports() const {
        PlatformPorts ports;
        ports.runtime = runtime;
        ports.defaultCenter = desktop->defaultCenter();
        ports.workspaceCenter = desktop->workspaceCenter();
        ports.distributedCenter = desktop->distributedCenter();
        ports.preferences = std::make_shared<JournalingPreferencesStore>(store, journal);
        ports.windowServer = desktop->windowServer();
        ports.screens = desktop->screens();
        ports.windowFactory = desktop->windowFactory();
        ports.workspace = desktop->workspace();
        ports.application = desktop->application();
        ports.bundleInfo = std::make_shared<JournalingBundleInfo>(desktop->bundleInfo(), journal);
        ports.operatingSystem = std::make_shared<JournalingOperatingSystemInfo>(
            desktop->operatingSystemInfo(), journal);
        ports.desktopAppearance = desktop->appearance();
        ports.symbolLookup = std::make_shared<sim::SimSymbolLookup>();
        ports.captureService = desktop->sharedCaptureService();
        ports.videoLayerFactory = videoLayers;
        ports.accessibility = desktop->sharedAccessibilityService();
        ports.errorReportingClient =
            std::make_shared<JournalingErrorReportingClient>(errorClient, journal);
        ports.analyticsClient =
            std::make_shared<JournalingAnalyticsClient>(analyticsClient, journal);
        ports.hasher = std::make_shared<StandInHasher>();
        ports.hardwareIdentity = std::make_shared<JournalingHardwareIdentity>(hardware, journal);
        ports.uncaughtExceptionHooks = std::make_shared<JournalingExceptionHooks>(hooks, journal);
        ports.errorReportingDsn = kDsn;
        ports.analyticsToken = kAnalyticsToken;
        return ports;
    }

    AppComponents components() const {
        return AppComponents{
            .streamControllerFactory = realCapture ? nullptr : streamControllers,
            .overlayContentFactory = nullptr,
            .statusItem = statusItem,
            .shortcuts = shortcuts,
            .mainWindow = mainWindow,
            .updates = updates,
            .pinningCommands = commands,
            .mainMenu = mainMenu,
        };
    }

    void build() {
        root = std::make_unique<CompositionRoot>(ports(), components());
        observeAnnouncements();
    }

    AppDelegate& delegate() const { return *root->appDelegate(); }

    // Builds the graph (unless built) and runs the three start-up phases as the platform does.
    void launch() {
        if (!root) {
            build();
        }
        delegate().prepareApplication();
        delegate().applicationWillFinishLaunching();
        delegate().applicationDidFinishLaunching();
        runtime->runUntilIdle();
    }

    // The "App - Launch" events the analytics client received.
    std::vector<sim::TrackedEvent> launchEvents() const {
        std::vector<sim::TrackedEvent> launches;
        for (const auto& event : analyticsClient->events()) {
            if (event.name == "App - Launch") {
                launches.push_back(event);
            }
        }
        return launches;
    }

    const std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    const std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    const std::shared_ptr<CallJournal> journal = std::make_shared<CallJournal>();

    const std::shared_ptr<InMemoryPreferencesStore> store =
        std::make_shared<InMemoryPreferencesStore>(desktop->defaultCenter().get());
    const std::shared_ptr<sim::SimErrorReportingClient> errorClient =
        std::make_shared<sim::SimErrorReportingClient>();
    const std::shared_ptr<sim::SimAnalyticsClient> analyticsClient =
        std::make_shared<sim::SimAnalyticsClient>();
    const std::shared_ptr<sim::SimUncaughtExceptionHooks> hooks =
        std::make_shared<sim::SimUncaughtExceptionHooks>();
    const std::shared_ptr<sim::SimHardwareIdentity> hardware =
        std::make_shared<sim::SimHardwareIdentity>("4C4C4544-0042-3510-8052-B2C04F564B31");

    const std::shared_ptr<RecordingStatusItemController> statusItem =
        std::make_shared<RecordingStatusItemController>(journal);
    const std::shared_ptr<RecordingGlobalShortcuts> shortcuts =
        std::make_shared<RecordingGlobalShortcuts>(journal);
    const std::shared_ptr<RecordingMainWindowController> mainWindow =
        std::make_shared<RecordingMainWindowController>(journal);
    const std::shared_ptr<RecordingUpdateController> updates =
        std::make_shared<RecordingUpdateController>(journal);
    const std::shared_ptr<RecordingPinningCommands> commands =
        std::make_shared<RecordingPinningCommands>(journal);
    // Set before build(): the root builds the real capture engine instead of recording stand-ins.
    bool realCapture = false;
    const std::shared_ptr<sim::SimVideoLayerFactory> videoLayers =
        std::make_shared<sim::SimVideoLayerFactory>(runtime);
    const std::shared_ptr<RecordingStreamControllerFactory> streamControllers =
        std::make_shared<RecordingStreamControllerFactory>();
    std::shared_ptr<MainMenu> mainMenu;

    // "pinnedWindowsShouldSuspend" / "pinnedWindowsShouldResume", in posting order.
    std::vector<std::string> announcements;

    std::unique_ptr<CompositionRoot> root;

  private:
    void observeAnnouncements() {
        auto& center = *desktop->defaultCenter();
        for (const char* name : {NotificationName::pinnedWindowsShouldSuspend,
                                 NotificationName::pinnedWindowsShouldResume}) {
            observers_.push_back(center.addObserver(
                name, [this](const Notification& n) { announcements.push_back(n.name); }));
        }
        observers_.push_back(center.addObserver(
            NotificationName::languagePreferenceDidChange, [this](const Notification& n) {
                const auto* language = n.objectAs<AppLanguage>();
                journal->record("language.applied " +
                                (language ? std::string(rawValue(*language)) : "?"));
            }));
    }

    std::vector<ObserverToken> observers_;
    // Only the delegate's own lines (untagged, and "[System]"); other components log as they
    // please.
    ScopedDebugLogSink logSink_{[journal = journal](const DebugLogLine& line) {
        if (line.tag.empty() || line.tag == "System") {
            journal->record("log " + formatDebugLine(line));
        }
    }};
};

}  // namespace tovalo
