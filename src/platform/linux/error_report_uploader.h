#pragma once

// Sends the spool's reports to the reporting service, oldest first, on a background queue.
// A report the service accepted (2xx) is deleted; one it can never accept (any other 4xx but
// 408 and 429) is deleted too; a corrupt one is deleted unsent. When the service cannot be
// reached or asks to wait (no response, 408, 429, 5xx) every report stays and the uploader
// tries again after a back-off that doubles from `initialBackoff` up to `maxBackoff`, and
// starts from the bottom again after the next success. Every delay goes through the queue's
// clock.
//
// Owned by the error reporting client. `schedule` is safe from any thread; the HTTP client
// must outlive the uploader and the work it has queued.

#include <cstddef>
#include <memory>
#include <string>

#include "base/clock.h"
#include "base/dispatch_queue.h"
#include "platform/http_client.h"
#include "platform/linux/error_report_spool.h"

namespace tovalo {

class ErrorReportUploader {
  public:
    struct Options {
        std::string endpoint;   // full URL the envelopes are posted to
        std::string dsn;        // repeated in each envelope's header
        std::string publicKey;  // sent in the authentication header
        Duration initialBackoff = seconds(5);
        Duration maxBackoff = seconds(600);
        Duration requestTimeout = seconds(30);
        bool debugLog = false;
    };

    struct Stats {
        std::size_t sent = 0;
        std::size_t rejected = 0;  // refused for good by the service
        std::size_t corrupt = 0;   // unreadable spool files removed
        std::size_t failedAttempts = 0;
    };

    ErrorReportUploader(std::shared_ptr<DispatchQueue> queue, HttpClient& http,
                        std::shared_ptr<ErrorReportSpool> spool, const Clock& clock,
                        Options options);
    // Cancels a pending retry; a pass already running stops after its current report.
    ~ErrorReportUploader();
    ErrorReportUploader(const ErrorReportUploader&) = delete;
    ErrorReportUploader& operator=(const ErrorReportUploader&) = delete;

    // Asks for a pass over the spool soon. While backing off it does nothing: the retry that
    // is already scheduled sends whatever is waiting by then.
    void schedule();

    Stats stats() const;
    // The wait before the retry after the next failure.
    Duration nextBackoff() const;
    bool isBackingOff() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace tovalo
