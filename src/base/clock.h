#pragma once

// Time as the program sees it. Every delay, timer and time-out goes through a Clock so that
// tests can run on virtual time (ManualClock) while the program runs on the steady clock.

#include <atomic>
#include <chrono>

namespace tovalo {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// Seconds as the program's settings state them (0.8 s, 0.05 s), rounded to whole nanoseconds.
constexpr Duration seconds(double s) {
    return Duration(static_cast<Duration::rep>(s * 1e9 + (s >= 0 ? 0.5 : -0.5)));
}
constexpr Duration milliseconds(double ms) {
    return seconds(ms / 1000.0);
}
constexpr double toSeconds(Duration d) {
    return static_cast<double>(d.count()) / 1e9;
}

class Clock {
  public:
    virtual ~Clock() = default;
    // Monotonic time for delays, deadlines and intervals.
    virtual TimePoint now() const = 0;
    // Calendar time for timestamps in reports and files.
    virtual WallTime wallNow() const = 0;
};

class SystemClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }
};

// Virtual time: moves only when told to. Thread-safe to read.
class ManualClock final : public Clock {
  public:
    ManualClock();
    TimePoint now() const override;
    WallTime wallNow() const override;
    // Moves time forward; going backwards is ignored, as a monotonic clock never does it.
    void advanceTo(TimePoint t);
    void advanceBy(Duration d) { advanceTo(now() + d); }

  private:
    std::atomic<TimePoint::rep> ticks_;
    WallTime wallEpoch_;
};

}  // namespace tovalo
