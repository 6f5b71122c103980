#pragma once

// Raises one window-server window inside its application through accessibility. The overlay
// uses it when it hands the pointer to the real window: it asks for the window's element (which
// comes back already raised) and then activates the owning application. The only bridge between
// a window ID and an accessibility element is the owner process and the exact on-screen
// rectangle both sides report. Keeps no state of its own; the composition root builds one with
// the services it needs. Main thread: only the window-server read hops to that reader's queue.
// Failures end in no element; the ones that point to a broken environment are reported.

#include <memory>

#include "capture/capture_types.h"
#include "capture/window_server_info.h"
#include "pinning/accessibility_service.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class AppActivator {
  public:
    // All required.
    struct Dependencies {
        std::shared_ptr<AccessibilityService> accessibility;
        std::shared_ptr<WindowServerInfo> windowServerInfo;
        std::shared_ptr<ErrorReporter> errorReporter;
    };

    explicit AppActivator(Dependencies dependencies);

    // The owner's first accessibility window whose position and size equal the window server's
    // bounds of `windowID` exactly, after performing "AXRaise" on it; nullptr when there is
    // none or it cannot be determined.
    AXUIElementRef getAXWindow(WindowID windowID) const;

  private:
    void reportMessage(const char* message, WindowID windowID, ValueMap extras = {},
                       std::source_location location = std::source_location::current()) const;

    const std::shared_ptr<AccessibilityService> accessibility_;
    const std::shared_ptr<WindowServerInfo> windowServerInfo_;
    const std::shared_ptr<ErrorReporter> errorReporter_;
};

}  // namespace tovalo
