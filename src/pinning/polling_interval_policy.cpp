#include "pinning/polling_interval_policy.h"

#include <algorithm>

namespace tovalo {

Duration PollingIntervalPolicy::timerTolerance(double interval) {
    return seconds(std::max(interval / 2, 0.2));
}

std::optional<double> PollingIntervalPolicy::pollSawNoChange() {
    ++noChangeStreak_;
    if (noChangeStreak_ == backOffStreak &&
        currentPollingInterval_ < backOffPollingInterval - intervalSlack) {
        return backOffPollingInterval;
    }
    if (noChangeStreak_ == maxIntervalStreak &&
        currentPollingInterval_ < maxPollingInterval - intervalSlack) {
        return maxPollingInterval;
    }
    return std::nullopt;
}

std::optional<double> PollingIntervalPolicy::accessibilitySawChange() {
    noChangeStreak_ = 0;
    if (currentPollingInterval_ > basePollingInterval + intervalSlack) {
        return basePollingInterval;
    }
    return std::nullopt;
}

}  // namespace tovalo
