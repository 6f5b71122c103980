#pragma once

// Posts the system's application and locale events on the simulated desktop's default centre,
// as the platform backend does when the system reports them.

#include <memory>

#include "base/notification_center.h"

namespace tovalo::sim {

class SimSystemEvents {
  public:
    explicit SimSystemEvents(std::shared_ptr<NotificationCenter> defaultCenter);

    // The application became the active application.
    void activateApplication();
    // The user changed the system locale.
    void changeCurrentLocale();

  private:
    std::shared_ptr<NotificationCenter> defaultCenter_;
};

}  // namespace tovalo::sim
