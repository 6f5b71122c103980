#pragma once

// The status-bar item and its menu, as the application delegate drives them while the program
// starts. The status-bar subsystem implements it; the delegate owns the one instance. Main thread.

namespace tovalo {

class StatusItemController {
  public:
    virtual ~StatusItemController() = default;

    // Creates the status item (once) and builds its menu.
    virtual void configureStatusItem() = 0;

    // Starts following "toggleStatusBarIcon": a Boolean "show" in its user information shows or
    // hides the item. The controller keeps the observer for its own lifetime.
    virtual void observeStatusBarIconToggle() = 0;
};

}  // namespace tovalo
