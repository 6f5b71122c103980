#include "platform/sim/sim_error_reporting_client.h"

#include <stdexcept>
#include <utility>

namespace tovalo::sim {

void SimErrorReportingClient::start(const ErrorReportingOptions& options) {
    std::lock_guard lock(mutex_);
    failIfAsked();
    starts_.push_back(options);
}

void SimErrorReportingClient::setUser(const ReportUser& user) {
    std::lock_guard lock(mutex_);
    failIfAsked();
    user_ = user;
}

void SimErrorReportingClient::captureError(const Error& error,
                                           const ScopeConfiguration& configure) {
    RecordedReport report;
    report.error = error;
    record(std::move(report), configure);
}

void SimErrorReportingClient::captureMessage(const std::string& message,
                                             const ScopeConfiguration& configure) {
    RecordedReport report;
    report.message = message;
    record(std::move(report), configure);
}

void SimErrorReportingClient::record(RecordedReport report, const ScopeConfiguration& configure) {
    {
        std::lock_guard lock(mutex_);
        failIfAsked();
        report.scope = baseScope_;
    }
    // The configuration is the caller's code: run it without holding the lock.
    if (configure) {
        configure(report.scope);
    }
    std::lock_guard lock(mutex_);
    reports_.push_back(std::move(report));
}

void SimErrorReportingClient::setBaseScope(ReportScope scope) {
    std::lock_guard lock(mutex_);
    baseScope_ = std::move(scope);
}

void SimErrorReportingClient::setFailing(bool failing) {
    std::lock_guard lock(mutex_);
    failing_ = failing;
}

std::vector<ErrorReportingOptions> SimErrorReportingClient::starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

std::optional<ReportUser> SimErrorReportingClient::user() const {
    std::lock_guard lock(mutex_);
    return user_;
}

std::vector<RecordedReport> SimErrorReportingClient::reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

void SimErrorReportingClient::failIfAsked() const {
    if (failing_) {
        throw std::runtime_error("simulated error-reporting client failure");
    }
}

}  // namespace tovalo::sim
