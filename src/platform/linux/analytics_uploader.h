#pragma once

// Sends batches of analytics records to the analytics service: one POST of a JSON array per
// batch, events to "<server>/track" and profile updates to "<server>/engage", and sorts the
// answer into delivered, worth retrying, or refused. It blocks on the HTTP client, so the
// analytics client calls it on its upload queue. close() lets the client's owner destroy the
// HTTP client safely. Owned by the analytics client; safe to call from any thread.

#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "platform/http_client.h"

namespace tovalo {

class AnalyticsUploader {
  public:
    enum class Endpoint { events, profileUpdates };
    enum class Outcome {
        delivered,   // 2xx: the service has the batch
        retryLater,  // no answer, 408, 429 or 5xx: keep the batch and try again
        refused,     // any other status: the batch will never be accepted
    };
    struct Result {
        Outcome outcome = Outcome::retryLater;
        long status = 0;
        std::string error;
    };

    explicit AnalyticsUploader(HttpClient& http) : http_(http) {}

    // `records` are JSON object texts. Blocks for the request; after close() it sends nothing
    // and answers retryLater.
    Result upload(const std::string& serverUrl, Endpoint endpoint,
                  const std::vector<std::string>& records, Duration timeout);

    // Waits for a request in flight; none starts afterwards.
    void close();

    // "<server>/track" or "<server>/engage"; trailing slashes of the server are ignored.
    static std::string endpointUrl(const std::string& serverUrl, Endpoint endpoint);
    // The wait before the next attempt after `consecutiveFailures` (at least one) failures:
    // `initial`, doubling with each further failure, never more than `maximum`.
    static Duration retryDelay(int consecutiveFailures, Duration initial, Duration maximum);

  private:
    HttpClient& http_;
    // Held for the whole request, so close() waits for it.
    std::mutex mutex_;
    bool closed_ = false;
};

}  // namespace tovalo
