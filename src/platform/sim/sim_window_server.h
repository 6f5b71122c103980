#pragma once

// The simulated desktop's window list as the window server reports it: one record per window
// under the window server's keys, front to back, filtered by the list options. This program's
// windows are listed too, owned by the desktop's "self" process. Titles are left out while
// screen recording is not allowed, as the real window server does. Owned by SimDesktop.

#include <atomic>
#include <memory>

#include "platform/sim/sim_window_state.h"
#include "platform/window_server.h"

namespace tovalo::sim {

class SimDesktop;

class SimWindowServer final : public WindowServer {
  public:
    explicit SimWindowServer(std::weak_ptr<SimDesktop> desktop);

    // Options as the real window server reads them:
    // - all (0): every window; onScreenOnly: only windows on screen (not minimised, ordered in,
    //   on the current desktop);
    // - includingWindow alone: just `relativeToWindow`, whatever its state;
    // - onScreenAboveWindow / onScreenBelowWindow: the on-screen windows in front of / behind
    //   `relativeToWindow` (with includingWindow, that window too); with no relative window,
    //   all on-screen windows;
    // - excludeDesktopElements: windows below layer 0 left out.
    // An unknown relative window gives an empty list.
    std::optional<ValueList> copyWindowInfo(WindowListOption options,
                                            WindowID relativeToWindow) override;

    // The record of one window as it would be listed.
    static ValueMap record(const SimWindowState& window, bool includeTitle);

    // While unavailable every query answers nullopt.
    void setAvailable(bool available) { available_.store(available); }
    // Only the next query answers nullopt.
    void failNextQuery() { failNext_.store(true); }
    int queryCount() const { return queries_.load(); }

  private:
    const std::weak_ptr<SimDesktop> desktop_;
    std::atomic<bool> available_{true};
    std::atomic<bool> failNext_{false};
    std::atomic<int> queries_{0};
};

}  // namespace tovalo::sim
