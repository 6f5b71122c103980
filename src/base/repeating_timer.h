#pragma once

// Runs a handler on a queue every `interval` until cancelled or destroyed. Firings keep to the
// original schedule (no drift); firings missed while the queue was busy are skipped, not
// bunched. `tolerance` lets a real clock fire up to that much late so wake-ups coalesce.

#include <functional>
#include <memory>

#include "base/dispatch_queue.h"

namespace tovalo {

class RepeatingTimer {
  public:
    RepeatingTimer(std::shared_ptr<DispatchQueue> queue, Duration interval, Duration tolerance,
                   std::function<void()> handler);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    // No handler starts after this returns (one already running on another thread finishes).
    void cancel();
    bool isActive() const;

    Duration interval() const;
    Duration tolerance() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace tovalo
