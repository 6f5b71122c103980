#pragma once

// Notices when the main queue stops turning. Every `pingInterval` a timer on a background
// queue posts a ping to the main queue; when a ping has waited `threshold` without running,
// the main thread is taken to hang and `onHang` is called once, on the watchdog's queue. The
// next ping that runs re-arms it for the next hang. All timing goes through the runtime's clock.
//
// Owned by the error reporting client, which reports each hang. Watching stops when the
// watchdog is destroyed.

#include <functional>
#include <memory>

#include "base/clock.h"
#include "base/dispatch_runtime.h"
#include "base/repeating_timer.h"

namespace tovalo {

class AppHangWatchdog {
  public:
    struct Options {
        Duration pingInterval = milliseconds(500);
        Duration threshold = seconds(2);
    };
    // Receives how long the unanswered ping has waited (at least the threshold).
    using HangHandler = std::function<void(Duration blockedFor)>;

    AppHangWatchdog(const std::shared_ptr<DispatchRuntime>& runtime, HangHandler onHang,
                    Options options);
    ~AppHangWatchdog();
    AppHangWatchdog(const AppHangWatchdog&) = delete;
    AppHangWatchdog& operator=(const AppHangWatchdog&) = delete;

    const Options& options() const { return options_; }

  private:
    struct State;

    const Options options_;
    std::shared_ptr<State> state_;
    std::unique_ptr<RepeatingTimer> timer_;
};

}  // namespace tovalo
