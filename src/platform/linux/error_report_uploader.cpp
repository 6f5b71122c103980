#include "platform/linux/error_report_uploader.h"

#include <algorithm>
#include <mutex>

#include "base/debug_log.h"
#include "platform/linux/error_report_envelope.h"

namespace tovalo {

struct ErrorReportUploader::State : std::enable_shared_from_this<State> {
    State(std::shared_ptr<DispatchQueue> q, HttpClient& h, std::shared_ptr<ErrorReportSpool> s,
          const Clock& c, Options o)
        : queue(std::move(q)),
          http(h),
          spool(std::move(s)),
          clock(c),
          options(std::move(o)),
          backoff(options.initialBackoff) {}

    const std::shared_ptr<DispatchQueue> queue;
    HttpClient& http;
    const std::shared_ptr<ErrorReportSpool> spool;
    const Clock& clock;
    const Options options;

    mutable std::mutex mutex;
    bool passQueued = false;
    bool backingOff = false;
    bool stopped = false;
    Duration backoff;
    TaskHandle retry;
    Stats stats;

    void schedule() {
        {
            std::lock_guard lock(mutex);
            if (passQueued || backingOff || stopped) {
                return;
            }
            passQueued = true;
        }
        queue->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->runPass();
            }
        });
    }

    enum class Outcome { sent, rejected, retryLater };

    Outcome send(const ErrorReportEnvelope& envelope) {
        HttpRequest request;
        request.method = "POST";
        request.url = options.endpoint;
        request.headers = {
            {"Content-Type", std::string(kErrorReportContentType)},
            {std::string(kErrorReportAuthHeader), errorReportAuthValue(options.publicKey)},
        };
        request.body = envelope.body;
        request.timeout = options.requestTimeout;
        const HttpResponse response = http.perform(request);
        if (response.isSuccess()) {
            return Outcome::sent;
        }
        if (options.debugLog) {
            TOVALO_DEBUG_LOG("ErrorReporting", "upload failed",
                             {{"event_id", envelope.eventId},
                              {"status", static_cast<std::int64_t>(response.status)},
                              {"error", response.error}});
        }
        return response.isRetryable() ? Outcome::retryLater : Outcome::rejected;
    }

    void runPass() {
        {
            std::lock_guard lock(mutex);
            passQueued = false;
        }
        for (const auto& entry : spool->list()) {
            {
                std::lock_guard lock(mutex);
                if (stopped) {
                    return;
                }
            }
            const auto stored = spool->read(entry);
            if (!stored) {
                continue;  // gone meanwhile, or unreadable and already forgotten
            }
            const auto envelope = makeErrorReportEnvelope(*stored, options.dsn, clock.wallNow());
            if (!envelope) {
                spool->remove(entry);
                std::lock_guard lock(mutex);
                ++stats.corrupt;
                continue;
            }
            switch (send(*envelope)) {
                case Outcome::sent: {
                    spool->remove(entry);
                    std::lock_guard lock(mutex);
                    ++stats.sent;
                    backoff = options.initialBackoff;
                    break;
                }
                case Outcome::rejected: {
                    spool->remove(entry);
                    std::lock_guard lock(mutex);
                    ++stats.rejected;
                    break;
                }
                case Outcome::retryLater:
                    scheduleRetry();
                    return;
            }
        }
    }

    void scheduleRetry() {
        std::lock_guard lock(mutex);
        ++stats.failedAttempts;
        if (stopped) {
            return;
        }
        backingOff = true;
        const Duration delay = backoff;
        backoff = std::min(backoff * 2, options.maxBackoff);
        retry = queue->asyncAfter(delay, [weak = weak_from_this()] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            {
                std::lock_guard relock(self->mutex);
                self->backingOff = false;
            }
            self->runPass();
        });
    }
};

ErrorReportUploader::ErrorReportUploader(std::shared_ptr<DispatchQueue> queue, HttpClient& http,
                                         std::shared_ptr<ErrorReportSpool> spool,
                                         const Clock& clock, Options options)
    : state_(std::make_shared<State>(std::move(queue), http, std::move(spool), clock,
                                     std::move(options))) {}

ErrorReportUploader::~ErrorReportUploader() {
    std::lock_guard lock(state_->mutex);
    state_->stopped = true;
    state_->retry.cancel();
}

void ErrorReportUploader::schedule() {
    state_->schedule();
}

ErrorReportUploader::Stats ErrorReportUploader::stats() const {
    std::lock_guard lock(state_->mutex);
    return state_->stats;
}

Duration ErrorReportUploader::nextBackoff() const {
    std::lock_guard lock(state_->mutex);
    return state_->backoff;
}

bool ErrorReportUploader::isBackingOff() const {
    std::lock_guard lock(state_->mutex);
    return state_->backingOff;
}

}  // namespace tovalo
