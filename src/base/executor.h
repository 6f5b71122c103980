#pragma once

// The engine under every DispatchQueue: where queued jobs run, how time-based work is scheduled
// and how a thread blocks until work completes. Two engines exist: ThreadedExecutor (real threads,
// the steady clock) and ManualExecutor (one thread, virtual time, drained by tests).

#include <cstdint>
#include <functional>
#include <optional>

#include "base/clock.h"
#include "base/dispatch_group_state.h"

namespace tovalo {

using Job = std::function<void()>;

enum class ExecutionTarget {
    pool,        // any worker thread
    mainThread,  // the program's main (UI) thread
};

class Executor {
  public:
    using TimerId = std::uint64_t;

    virtual ~Executor() = default;

    virtual const Clock& clock() const = 0;
    virtual bool isMainThread() const = 0;

    // Runs `job` soon on the given target. Never runs it inline.
    virtual void submit(ExecutionTarget target, Job job) = 0;

    // Calls `fire` once at or after `deadline` (no later than deadline + leeway on a real clock).
    // `fire` must be short: it only hands work to a queue.
    virtual TimerId scheduleAt(TimePoint deadline, Duration leeway, Job fire) = 0;
    // Drops a scheduled timer; harmless when it already fired or never existed.
    virtual void cancelTimer(TimerId id) = 0;

    // Blocks until the group's count is zero or the deadline passes; true when it is zero.
    virtual bool wait(DispatchGroupState& group, std::optional<TimePoint> deadline) = 0;

    // Stops accepting work and drops what is pending; called when the runtime goes away.
    virtual void shutdown() = 0;
};

}  // namespace tovalo
