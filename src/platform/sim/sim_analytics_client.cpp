#include "platform/sim/sim_analytics_client.h"

#include <stdexcept>

namespace tovalo::sim {

SimAnalyticsClient::SimAnalyticsClient(std::string anonymousDistinctId)
    : distinctId_(std::move(anonymousDistinctId)) {}

void SimAnalyticsClient::initialize(const AnalyticsClientOptions& options) {
    std::lock_guard lock(mutex_);
    enter("initialize");
    initializations_.push_back(options);
}

void SimAnalyticsClient::setLoggingEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enter("setLoggingEnabled");
    loggingEnabled_ = enabled;
}

void SimAnalyticsClient::track(const std::string& event, const ValueMap& properties) {
    std::lock_guard lock(mutex_);
    enter("track");
    events_.push_back({event, properties});
}

void SimAnalyticsClient::time(const std::string& event) {
    std::lock_guard lock(mutex_);
    enter("time");
    timedEvents_.push_back(event);
}

std::string SimAnalyticsClient::distinctId() const {
    std::lock_guard lock(mutex_);
    enter("distinctId");
    return distinctId_;
}

void SimAnalyticsClient::createAlias(const std::string& alias, const std::string& distinctId) {
    std::lock_guard lock(mutex_);
    enter("createAlias");
    aliases_.emplace_back(alias, distinctId);
    distinctId_ = alias;
}

void SimAnalyticsClient::identify(const std::string& distinctId) {
    std::lock_guard lock(mutex_);
    enter("identify");
    identifications_.push_back(distinctId);
    distinctId_ = distinctId;
}

void SimAnalyticsClient::registerSuperProperties(const ValueMap& properties) {
    std::lock_guard lock(mutex_);
    enter("registerSuperProperties");
    for (const auto& [key, value] : properties) {
        superProperties_.insert_or_assign(key, value);
    }
}

void SimAnalyticsClient::setPeopleProperties(const ValueMap& properties) {
    std::lock_guard lock(mutex_);
    enter("setPeopleProperties");
    for (const auto& [key, value] : properties) {
        peopleProperties_.insert_or_assign(key, value);
    }
}

void SimAnalyticsClient::setFailing(bool failing) {
    std::lock_guard lock(mutex_);
    failing_ = failing;
}

std::vector<std::string> SimAnalyticsClient::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<AnalyticsClientOptions> SimAnalyticsClient::initializations() const {
    std::lock_guard lock(mutex_);
    return initializations_;
}

std::optional<bool> SimAnalyticsClient::loggingEnabled() const {
    std::lock_guard lock(mutex_);
    return loggingEnabled_;
}

std::vector<TrackedEvent> SimAnalyticsClient::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> SimAnalyticsClient::timedEvents() const {
    std::lock_guard lock(mutex_);
    return timedEvents_;
}

std::vector<std::pair<std::string, std::string>> SimAnalyticsClient::aliases() const {
    std::lock_guard lock(mutex_);
    return aliases_;
}

std::vector<std::string> SimAnalyticsClient::identifications() const {
    std::lock_guard lock(mutex_);
    return identifications_;
}

ValueMap SimAnalyticsClient::superProperties() const {
    std::lock_guard lock(mutex_);
    return superProperties_;
}

ValueMap SimAnalyticsClient::peopleProperties() const {
    std::lock_guard lock(mutex_);
    return peopleProperties_;
}

void SimAnalyticsClient::enter(const char* call) const {
    if (failing_) {
        throw std::runtime_error("simulated analytics client failure");
    }
    calls_.emplace_back(call);
}

}  // namespace tovalo::sim
