#pragma once

// An in-memory product-analytics client for tests and the simulated desktop: it records every
// call in order and keeps the identity the way the real service does (an anonymous "$..."
// distinct ID until an alias or identify replaces it). It can be told to fail (throw) on every
// call. Safe to use from any thread.

#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/analytics_client.h"

namespace tovalo::sim {

struct TrackedEvent {
    std::string name;
    ValueMap properties;

    friend bool operator==(const TrackedEvent&, const TrackedEvent&) = default;
};

class SimAnalyticsClient final : public AnalyticsClient {
  public:
    explicit SimAnalyticsClient(std::string anonymousDistinctId = "$device:SIM-ANONYMOUS-ID");

    void initialize(const AnalyticsClientOptions& options) override;
    void setLoggingEnabled(bool enabled) override;
    void track(const std::string& event, const ValueMap& properties) override;
    void time(const std::string& event) override;
    std::string distinctId() const override;
    void createAlias(const std::string& alias, const std::string& distinctId) override;
    void identify(const std::string& distinctId) override;
    void registerSuperProperties(const ValueMap& properties) override;
    void setPeopleProperties(const ValueMap& properties) override;

    // While failing, every call throws std::runtime_error and records nothing.
    void setFailing(bool failing);

    // The name of every call in order ("initialize", "setLoggingEnabled", "track", "time",
    // "distinctId", "createAlias", "identify", "registerSuperProperties",
    // "setPeopleProperties").
    std::vector<std::string> calls() const;
    std::vector<AnalyticsClientOptions> initializations() const;
    std::optional<bool> loggingEnabled() const;
    std::vector<TrackedEvent> events() const;
    std::vector<std::string> timedEvents() const;
    // (alias, distinct ID it was linked to), in order.
    std::vector<std::pair<std::string, std::string>> aliases() const;
    // The IDs passed to identify, in order.
    std::vector<std::string> identifications() const;
    // Every registered super / profile property, later registrations overriding earlier ones.
    ValueMap superProperties() const;
    ValueMap peopleProperties() const;

  private:
    // Fails when asked, otherwise logs `call`. Needs the lock held.
    void enter(const char* call) const;

    mutable std::mutex mutex_;
    bool failing_ = false;
    mutable std::vector<std::string> calls_;
    std::string distinctId_;
    std::vector<AnalyticsClientOptions> initializations_;
    std::optional<bool> loggingEnabled_;
    std::vector<TrackedEvent> events_;
    std::vector<std::string> timedEvents_;
    std::vector<std::pair<std::string, std::string>> aliases_;
    std::vector<std::string> identifications_;
    ValueMap superProperties_;
    ValueMap peopleProperties_;
};

}  // namespace tovalo::sim
