#pragma once

// Tracks a set of outstanding pieces of work: `enter` before each, `leave` after; `wait` blocks
// until none is outstanding, `notify` runs a task on a queue once none is (at once when none is
// outstanding now).

#include <memory>
#include <optional>

#include "base/dispatch_group_state.h"
#include "base/dispatch_queue.h"

namespace tovalo {

class DispatchGroup {
  public:
    explicit DispatchGroup(std::shared_ptr<Executor> executor);

    void enter();
    // An unmatched `leave` is a caller's bug; it is ignored rather than driving the count below
    // zero (which would release waiters early forever after).
    void leave();

    // Enters, runs `task` on `queue`, leaves.
    void async(const std::shared_ptr<DispatchQueue>& queue, DispatchQueue::Task task);

    // True when nothing is outstanding; false when `timeout` passed first (on the executor's
    // clock, so a test's wait consumes virtual time).
    bool wait(std::optional<Duration> timeout = std::nullopt);

    void notify(const std::shared_ptr<DispatchQueue>& queue, DispatchQueue::Task task);

  private:
    static void leave(DispatchGroupState& state);

    std::shared_ptr<Executor> executor_;
    std::shared_ptr<DispatchGroupState> state_;
};

}  // namespace tovalo
