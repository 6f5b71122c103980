#pragma once

// The product-analytics client on Linux. Every call returns at once: it notes the time and
// hands the work to the client's serial queue, which builds the record (super properties,
// token, distinct id, time, a random insert id, the duration of a timed event), sanitises it
// and appends it to a journal in the state directory, so that a crash from then on loses
// nothing (only a call the queue has not reached yet, a moment's work, can be lost). A
// separate upload queue posts batches to the analytics service every flush
// interval, as soon as a full batch is waiting, and at shutdown(); failed uploads are retried
// with exponential back-off, and the queues are bounded (oldest dropped first). Every delay
// runs on the runtime's clock.
//
// Calls made before initialize() are kept in memory (bounded like the queue) and sent once it
// runs; identify() and friends take effect at once. Profile properties set while the id is
// still anonymous are held and sent at the first identify().
//
// The composition root owns the one instance and keeps the HTTP client alive longer. Every
// member is safe to call from any thread.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/dispatch_runtime.h"
#include "platform/analytics_client.h"
#include "platform/http_client.h"

namespace tovalo {

class LinuxAnalyticsClient final : public AnalyticsClient {
  public:
    struct Settings {
        // Journals and identity live here, e.g. $XDG_STATE_HOME/tovalo/analytics.
        std::string stateDirectory;
        // The anonymous id is "$device:<seed>"; without one a random UUID kept in the state
        // directory stands in.
        std::optional<std::string> deviceSeed;
        // Where batches go when initialize() names no server.
        std::string defaultServerUrl;

        std::size_t maxQueuedEvents = 1000;
        std::size_t maxQueuedProfileUpdates = 100;
        std::size_t batchSize = 50;
        Duration initialRetryDelay = seconds(60);
        Duration maxRetryDelay = seconds(600);
        Duration requestTimeout = seconds(30);
    };

    // Reads nothing yet: the identity and the journals are loaded on the client's queue.
    LinuxAnalyticsClient(std::shared_ptr<DispatchRuntime> runtime, HttpClient& http,
                         Settings settings);
    // Finishes the work already handed over (journal writes), waits for an upload in flight
    // and stops; what is still queued stays in the journal for the next run.
    ~LinuxAnalyticsClient() override;
    LinuxAnalyticsClient(const LinuxAnalyticsClient&) = delete;
    LinuxAnalyticsClient& operator=(const LinuxAnalyticsClient&) = delete;

    // Only the first call counts. A zero or negative flush interval means 60 s. The client
    // records no events of its own and has a single instance, so trackAutomaticEvents and
    // instanceName change nothing; optOutTrackingByDefault drops every record from then on.
    void initialize(const AnalyticsClientOptions& options) override;
    // Off by default; when on, the client writes "[Analytics] ..." debug-log lines.
    void setLoggingEnabled(bool enabled) override;

    void track(const std::string& event, const ValueMap& properties) override;
    void time(const std::string& event) override;
    // Answers from memory; only a call made while the identity file is still being read at
    // start-up waits for that read.
    std::string distinctId() const override;
    void createAlias(const std::string& alias, const std::string& distinctId) override;
    void identify(const std::string& distinctId) override;
    void registerSuperProperties(const ValueMap& properties) override;
    void setPeopleProperties(const ValueMap& properties) override;

    // Starts uploading everything queued now, without waiting for the interval or a back-off.
    void flush();
    // For the exit path: stops the flush timer, uploads what is queued and waits at most
    // `timeout` (on the runtime's clock). True when nothing was left undelivered. Later calls
    // are still journaled, for the next run to send.
    bool shutdown(Duration timeout);

  private:
    class Core;

    std::shared_ptr<DispatchRuntime> runtime_;
    std::shared_ptr<Core> core_;
};

}  // namespace tovalo
