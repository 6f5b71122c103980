#include "base/clock.h"

namespace tovalo {

namespace {
// A fixed, recognisable starting point so test output is stable: 2026-01-01T00:00:00Z,
// and a steady time far from zero so "now minus something" never underflows.
constexpr std::chrono::seconds kWallEpoch{1767225600};
constexpr std::chrono::hours kSteadyStart{24};
}  // namespace

ManualClock::ManualClock()
    : ticks_(std::chrono::duration_cast<TimePoint::duration>(kSteadyStart).count()),
      wallEpoch_(kWallEpoch) {}

TimePoint ManualClock::now() const {
    return TimePoint(TimePoint::duration(ticks_.load()));
}

WallTime ManualClock::wallNow() const {
    const auto elapsed = now().time_since_epoch() - kSteadyStart;
    return wallEpoch_ + std::chrono::duration_cast<WallTime::duration>(elapsed);
}

void ManualClock::advanceTo(TimePoint t) {
    auto current = ticks_.load();
    const auto target = t.time_since_epoch().count();
    while (target > current && !ticks_.compare_exchange_weak(current, target)) {
    }
}

}  // namespace tovalo
