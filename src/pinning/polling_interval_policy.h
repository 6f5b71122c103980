#pragma once

// How often a source window's frame is polled from the window server. Polling starts at the base
// interval when accessibility notifications follow the window, and at the fast interval when
// nothing else does. A window that stays still is polled less and less often (1.5 s after 10
// quiet polls, 3.0 s after 30); only a change reported by accessibility brings a longer interval
// back to the base one, so a window that moves now and then does not keep the timer busy. A
// plain value owned by the WindowEventObserver that polls.

#include <optional>

#include "base/clock.h"

namespace tovalo {

class PollingIntervalPolicy {
  public:
    static constexpr double basePollingInterval = 0.8;
    static constexpr double fastPollingInterval = 0.3;
    static constexpr double backOffPollingInterval = 1.5;
    static constexpr double maxPollingInterval = 3.0;
    static constexpr int backOffStreak = 10;
    static constexpr int maxIntervalStreak = 30;

    // How late a timer at `interval` may fire so wake-ups coalesce: half the interval, at least
    // 0.2 s.
    static Duration timerTolerance(double interval);

    // Seconds; 0 until polling starts.
    double currentPollingInterval() const { return currentPollingInterval_; }
    int noChangeStreak() const { return noChangeStreak_; }

    // Polling (re)starts at `interval`. The streak is kept: backing off continues where it was.
    void pollingStarted(double interval) { currentPollingInterval_ = interval; }

    // A poll saw the frame change: the streak starts over, the interval stays.
    void pollSawChange() { noChangeStreak_ = 0; }
    // A poll saw no change. Returns the longer interval to poll at from now on, if the streak
    // just reached a back-off step.
    std::optional<double> pollSawNoChange();

    // Accessibility reported a move or resize that changed the frame. Returns the base interval
    // when polling runs slower than it.
    std::optional<double> accessibilitySawChange();

  private:
    // Intervals closer than this count as equal.
    static constexpr double intervalSlack = 0.05;

    double currentPollingInterval_ = 0;
    int noChangeStreak_ = 0;
};

}  // namespace tovalo
