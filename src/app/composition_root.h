#pragma once

// The one place that builds the program's process-wide instances, in a fixed order, from the
// platform ports: the shared state, the language and theme managers, the error reporter, the
// analytics tracker, the device identifier, the pinned window manager and the application
// delegate. The program, the scenario tests and the headless demo all build the same object graph
// through it. Whoever runs the program owns the root; nothing here is global. Building starts
// nothing: the application delegate's entry points do that.

#include <memory>

#include "app/app_components.h"
#include "app/app_delegate.h"
#include "app/platform_ports.h"
#include "capture/window_capture_context_provider.h"
#include "capture/window_server_info.h"
#include "capture/window_stream_registry.h"
#include "pinning/pinned_window_manager.h"
#include "prefs/app_state.h"
#include "prefs/localization_manager.h"
#include "prefs/theme_manager.h"
#include "telemetry/analytics_tracker.h"
#include "telemetry/device_id_provider.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class CompositionRoot {
  public:
    // Every port must be present.
    CompositionRoot(PlatformPorts ports, AppComponents components);
    ~CompositionRoot();
    CompositionRoot(const CompositionRoot&) = delete;
    CompositionRoot& operator=(const CompositionRoot&) = delete;

    const PlatformPorts& ports() const { return ports_; }
    const AppComponents& components() const { return components_; }

    const std::shared_ptr<AppState>& appState() const { return appState_; }
    const std::shared_ptr<LocalizationManager>& localization() const { return localization_; }
    const std::shared_ptr<ThemeManager>& themeManager() const { return themeManager_; }
    const std::shared_ptr<ErrorReporter>& errorReporter() const { return errorReporter_; }
    const std::shared_ptr<AnalyticsTracker>& analytics() const { return analytics_; }
    const std::shared_ptr<DeviceIDProvider>& deviceIDProvider() const { return deviceIDProvider_; }
    const std::shared_ptr<WindowServerInfo>& windowServerInfo() const { return windowServerInfo_; }
    const std::shared_ptr<WindowCaptureContextProvider>& captureContextProvider() const {
        return captureContextProvider_;
    }
    const std::shared_ptr<WindowStreamRegistry>& streamRegistry() const { return streamRegistry_; }
    const std::shared_ptr<PinnedWindowManager>& pinnedWindowManager() const {
        return pinnedWindowManager_;
    }
    const std::shared_ptr<AppDelegate>& appDelegate() const { return appDelegate_; }

  private:
    // Declared in building order, so they are released in the reverse one; the ports go last.
    PlatformPorts ports_;
    AppComponents components_;
    std::shared_ptr<AppState> appState_;
    std::shared_ptr<LocalizationManager> localization_;
    std::shared_ptr<ThemeManager> themeManager_;
    std::shared_ptr<ErrorReporter> errorReporter_;
    std::shared_ptr<AnalyticsTracker> analytics_;
    std::shared_ptr<DeviceIDProvider> deviceIDProvider_;
    std::shared_ptr<WindowServerInfo> windowServerInfo_;
    std::shared_ptr<WindowCaptureContextProvider> captureContextProvider_;
    std::shared_ptr<WindowStreamRegistry> streamRegistry_;
    std::shared_ptr<PinnedWindowManager> pinnedWindowManager_;
    std::shared_ptr<AppDelegate> appDelegate_;
};

}  // namespace tovalo
