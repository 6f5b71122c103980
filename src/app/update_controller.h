#pragma once

// The software-update steps run at every launch. The about-and-updates subsystem implements it;
// the application delegate owns the one instance. Main thread.

namespace tovalo {

class UpdateController {
  public:
    virtual ~UpdateController() = default;

    // Gives the update framework its first-launch defaults.
    virtual void configureUpdatePreferences() = 0;

    // Checks for updates when automatic checks are on (in the background when automatic
    // downloads are on as well).
    virtual void checkForUpdatesAtLaunch() = 0;
};

}  // namespace tovalo
