#include "telemetry/analytics_tracker.h"

#include <array>
#include <utility>

#include "base/text_trimming.h"

namespace tovalo {

AnalyticsTracker::AnalyticsTracker(AnalyticsClient& client, std::string token)
    : client_(client), token_(std::move(token)) {}

void AnalyticsTracker::configure() noexcept {
    std::lock_guard lock(configureMutex_);
    if (isConfigured()) {
        return;
    }
    try {
        AnalyticsClientOptions options;
        options.token = token_;
        options.trackAutomaticEvents = false;
        options.flushInterval = seconds(60);
        client_.initialize(options);
        client_.setLoggingEnabled(false);
        configured_.store(true, std::memory_order_release);
    } catch (...) {
        // An uninitialised client stays unused; events keep being dropped.
    }
}

void AnalyticsTracker::track(const std::string& event, const ValueMap& properties) noexcept {
    if (!isConfigured()) {
        return;
    }
    try {
        client_.track(event, properties);
    } catch (...) {
    }
}

void AnalyticsTracker::startTimedEvent(const std::string& event) noexcept {
    if (!isConfigured()) {
        return;
    }
    try {
        client_.time(event);
    } catch (...) {
    }
}

std::optional<std::string> AnalyticsTracker::identify(
    std::string_view userID, const std::optional<ValueMap>& superProperties,
    const std::optional<ValueMap>& peopleProperties) noexcept {
    if (!isConfigured()) {
        return std::nullopt;
    }
    try {
        std::string id(trimWhitespaceAndNewlines(userID));
        if (id.empty()) {
            return std::nullopt;
        }
        std::lock_guard lock(identityMutex_);
        const std::string current = client_.distinctId();
        if (current != id && current.starts_with('$')) {
            client_.createAlias(id, current);
        }
        client_.identify(id);
        currentDistinctID_ = id;
        // The identity is settled; failing to attach properties does not undo it.
        try {
            if (superProperties && !superProperties->empty()) {
                client_.registerSuperProperties(*superProperties);
            }
            if (peopleProperties && !peopleProperties->empty()) {
                client_.setPeopleProperties(*peopleProperties);
            }
        } catch (...) {
        }
        return id;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<std::string> AnalyticsTracker::currentDistinctID() const {
    std::lock_guard lock(identityMutex_);
    return currentDistinctID_;
}

}  // namespace tovalo
