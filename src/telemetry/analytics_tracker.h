#pragma once

// The program's facade over the product-analytics client: initialises it once, identifies the
// installation and forwards named events (see AnalyticsEvent) with their properties. Before
// configure() every call does nothing: events are dropped, not queued. The composition root owns
// the one instance; track, startTimedEvent and identify are safe from any thread. Nothing here
// ever throws or reports: tracking never fails from the caller's point of view.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/text_trimming.h"
#include "base/value.h"
#include "platform/analytics_client.h"

namespace tovalo {

class AnalyticsTracker {
  public:
    // `client` must outlive the tracker; `token` is the analytics project's token.
    AnalyticsTracker(AnalyticsClient& client, std::string token);

    AnalyticsTracker(const AnalyticsTracker&) = delete;
    AnalyticsTracker& operator=(const AnalyticsTracker&) = delete;

    // Once: initialises the client (automatic events off, flush every 60 s, every other option
    // at the client's default), switches the client's logging off, then enables the calls below.
    void configure() noexcept;
    bool isConfigured() const noexcept { return configured_.load(std::memory_order_acquire); }

    void track(const std::string& event, const ValueMap& properties = {}) noexcept;
    // The next track of `event` carries the time elapsed since this call.
    void startTimedEvent(const std::string& event) noexcept;

    // Identifies the installation as `userID` with surrounding whitespace and line breaks
    // removed. When the client still has its anonymous identity (beginning with "$"), the new
    // identity is first linked to it as an alias. Non-empty property maps are registered as super
    // properties (sent with every later event) and profile properties. Returns the identity now
    // in use; nothing when unconfigured, when the trimmed ID is empty, or when the client failed.
    std::optional<std::string> identify(
        std::string_view userID, const std::optional<ValueMap>& superProperties = std::nullopt,
        const std::optional<ValueMap>& peopleProperties = std::nullopt) noexcept;

    // The last identity set by identify.
    std::optional<std::string> currentDistinctID() const;

  private:
    AnalyticsClient& client_;
    const std::string token_;

    std::atomic<bool> configured_{false};
    std::mutex configureMutex_;
    // Serialises identify, so that two racing calls cannot both alias the anonymous identity;
    // guards currentDistinctID_.
    mutable std::mutex identityMutex_;
    std::optional<std::string> currentDistinctID_;
};

}  // namespace tovalo
