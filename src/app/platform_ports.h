#pragma once

// Everything the program needs from the platform it runs on, in one value: the dispatch runtime,
// the three notification centres, the preferences store, the desktop (window server, screens,
// windows, other applications, this application), facts about the program and the system, the
// capture and accessibility services, the telemetry clients and their configuration. A backend
// (or the simulated desktop, in tests) fills it and hands it to the composition root, which
// keeps it alive as long as anything built from it. Every pointer is required.

#include <memory>
#include <string>

#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "capture/capture_service.h"
#include "capture/video_layer.h"
#include "pinning/accessibility_service.h"
#include "platform/analytics_client.h"
#include "platform/application.h"
#include "platform/bundle_info.h"
#include "platform/desktop_appearance.h"
#include "platform/error_reporting_client.h"
#include "platform/hardware_identity.h"
#include "platform/hasher.h"
#include "platform/operating_system_info.h"
#include "platform/platform_window.h"
#include "platform/screens.h"
#include "platform/symbol_lookup.h"
#include "platform/uncaught_exception_hooks.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tovalo {

struct PlatformPorts {
    std::shared_ptr<DispatchRuntime> runtime;

    // Application-wide names and this application's own system events.
    std::shared_ptr<NotificationCenter> defaultCenter;
    // Sleep and wake, session switches, desktop switches, applications quitting.
    std::shared_ptr<NotificationCenter> workspaceCenter;
    // Screen lock, the window overview, the desktop's appearance.
    std::shared_ptr<NotificationCenter> distributedCenter;

    std::shared_ptr<PreferencesStore> preferences;

    std::shared_ptr<WindowServer> windowServer;
    std::shared_ptr<Screens> screens;
    std::shared_ptr<WindowFactory> windowFactory;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<Application> application;

    std::shared_ptr<BundleInfo> bundleInfo;
    std::shared_ptr<OperatingSystemInfo> operatingSystem;
    std::shared_ptr<DesktopAppearance> desktopAppearance;
    std::shared_ptr<SymbolLookup> symbolLookup;

    std::shared_ptr<CaptureService> captureService;
    // The surfaces overlays show live frames on.
    std::shared_ptr<VideoLayerFactory> videoLayerFactory;
    std::shared_ptr<AccessibilityService> accessibility;

    std::shared_ptr<ErrorReportingClient> errorReportingClient;
    std::shared_ptr<AnalyticsClient> analyticsClient;
    std::shared_ptr<Hasher> hasher;
    std::shared_ptr<HardwareIdentity> hardwareIdentity;
    std::shared_ptr<UncaughtExceptionHooks> uncaughtExceptionHooks;

    // Where error reports go, and the analytics project's token (32 lower-case hex characters).
    std::string errorReportingDsn;
    std::string analyticsToken;
};

}  // namespace tovalo
