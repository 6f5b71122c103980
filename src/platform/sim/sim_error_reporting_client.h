#pragma once

// An in-memory error-reporting client for tests and the simulated desktop: it records how it
// was started, the user and every report with the scope the report was filed with. It can be
// told to fail (throw) on every call, to check that callers contain client failures. Safe to
// use from any thread.

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/error_reporting_client.h"

namespace tovalo::sim {

struct RecordedReport {
    std::optional<Error> error;          // set by captureError
    std::optional<std::string> message;  // set by captureMessage
    ReportScope scope;                   // the base scope after the capture's configuration
};

class SimErrorReportingClient final : public ErrorReportingClient {
  public:
    void start(const ErrorReportingOptions& options) override;
    void setUser(const ReportUser& user) override;
    void captureError(const Error& error, const ScopeConfiguration& configure) override;
    void captureMessage(const std::string& message, const ScopeConfiguration& configure) override;

    // The scope every report starts from, as the client's current scope would be.
    void setBaseScope(ReportScope scope);
    // While failing, every call throws std::runtime_error and records nothing.
    void setFailing(bool failing);

    // The options of every start call, in order.
    std::vector<ErrorReportingOptions> starts() const;
    std::optional<ReportUser> user() const;
    std::vector<RecordedReport> reports() const;

  private:
    void failIfAsked() const;
    void record(RecordedReport report, const ScopeConfiguration& configure);

    mutable std::mutex mutex_;
    bool failing_ = false;
    ReportScope baseScope_;
    std::vector<ErrorReportingOptions> starts_;
    std::optional<ReportUser> user_;
    std::vector<RecordedReport> reports_;
};

}  // namespace tovalo::sim
