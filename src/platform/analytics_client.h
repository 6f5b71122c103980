#pragma once

// Port: the product-analytics client. The AnalyticsTracker facade initialises it once and
// forwards events to its main instance. Implementations queue, persist and upload events on
// their own queues; every call is safe from any thread and returns without waiting.

#include <optional>
#include <string>

#include "base/clock.h"
#include "base/value.h"

namespace tovalo {

struct AnalyticsClientOptions {
    std::string token;
    bool trackAutomaticEvents = false;
    Duration flushInterval = seconds(60);
    std::optional<std::string> instanceName;
    bool optOutTrackingByDefault = false;
    ValueMap superProperties;
    std::optional<std::string> serverUrl;  // nullopt: the client's default server
};

class AnalyticsClient {
public:
    virtual ~AnalyticsClient() = default;

    virtual void initialize(const AnalyticsClientOptions& options) = 0;
    virtual void setLoggingEnabled(bool enabled) = 0;

    // The main instance's operations.
    virtual void track(const std::string& event, const ValueMap& properties) = 0;
    // The next `track` of `event` carries the time elapsed since this call.
    virtual void time(const std::string& event) = 0;
    virtual std::string distinctId() const = 0;
    // Links `alias` to `distinctId` and identifies as `alias`.
    virtual void createAlias(const std::string& alias, const std::string& distinctId) = 0;
    virtual void identify(const std::string& distinctId) = 0;
    virtual void registerSuperProperties(const ValueMap& properties) = 0;
    virtual void setPeopleProperties(const ValueMap& properties) = 0;
};

}  // namespace tovalo
