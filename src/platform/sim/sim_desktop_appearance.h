#pragma once

// The simulated desktop's light/dark appearance. A test or the simulated desktop flips it with
// `setAppearance`, which announces the change on the distributed centre the way the desktop
// does, so the theme manager reacts as it would to the user switching dark mode.

#include <atomic>
#include <memory>

#include "base/notification_center.h"
#include "platform/desktop_appearance.h"

namespace tovalo::sim {

class SimDesktopAppearance final : public DesktopAppearance {
  public:
    // `distributedCenter` receives the appearance change; it may be null (nothing is posted).
    explicit SimDesktopAppearance(std::shared_ptr<NotificationCenter> distributedCenter = nullptr,
                                  Match initial = Match::light);

    Match bestMatch() const override;

    // Switches the appearance; posts the change when the value differs.
    void setAppearance(Match match);

    // How many times the appearance was asked for.
    int queryCount() const { return queries_.load(); }

  private:
    std::shared_ptr<NotificationCenter> distributedCenter_;
    std::atomic<Match> match_;
    mutable std::atomic<int> queries_{0};
};

}  // namespace tovalo::sim
