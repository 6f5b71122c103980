#pragma once

// The program's main window as the application delegate drives it: shown at every launch and on
// reopen, adopted when it becomes key, and repainted when the theme changes. The main-window
// subsystem implements it; the delegate owns the one instance. Main thread.

#include "base/notification_center.h"

namespace tovalo {

class MainWindowController {
  public:
    virtual ~MainWindowController() = default;

    // Creates the main window when there is none (or brings the existing one forward), then
    // activates the application. Always ends with the window in front.
    virtual void showMainWindow() = 0;

    // Whether the main window exists and is on screen.
    virtual bool isMainWindowVisible() const = 0;

    // Starts observing windows becoming key, so the main window is adopted whenever it does. The
    // caller keeps the returned token and removes the observer by releasing it.
    [[nodiscard]] virtual ObserverToken observeWindowsBecomingKey() = 0;

    // Paints the main window, when it exists, with the current theme.
    virtual void applyThemeToMainWindow() = 0;
};

}  // namespace tovalo
