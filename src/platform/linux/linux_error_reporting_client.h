#pragma once

// The crash and error reporting client of the Linux build. A capture copies the client's scope,
// applies the caller's configuration and hands the report to a bounded in-memory queue; a
// background queue turns it into an event, writes it to the spool directory and asks the
// uploader to send it, so the calling thread never touches the disk or the network and never
// waits. Reports survive being offline and restarts (the spool), a failed upload is retried
// with back-off, and a report the service refuses for good is dropped. With the crash handler
// enabled, fatal signals leave a crash record that becomes a fatal report at the next start;
// with app-hang tracking enabled, a main queue that stops turning for 2 s is reported once per
// hang. An invalid DSN leaves the client disabled: every capture is dropped.
//
// Owned by the composition root for the life of the process; every call is safe from any
// thread. The HTTP client must outlive this client and the work it queued. When destroyed, the
// client writes the reports still in its memory queue to the spool and puts back the signal
// actions it replaced.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "base/dispatch_runtime.h"
#include "platform/error_reporting_client.h"
#include "platform/http_client.h"
#include "platform/linux/app_hang_watchdog.h"
#include "platform/linux/error_report_spool.h"
#include "platform/posix/xdg_paths.h"

namespace tovalo {

class LinuxErrorReportingClient final : public ErrorReportingClient {
  public:
    struct Config {
        // Where pending reports and crash records are kept; see defaultSpoolDirectory().
        std::string spoolDirectory;
        // Replaces the endpoint derived from the DSN (tests, staging).
        std::optional<std::string> endpointOverride;
        // "tovalo@<version>+<build>"
        std::string release;
        ErrorReportSpool::Limits spoolLimits;
        // Captures waiting for the background queue; beyond this the oldest is dropped.
        std::size_t maxQueuedCaptures = 256;
        Duration initialRetryDelay = seconds(5);
        Duration maxRetryDelay = seconds(600);
        AppHangWatchdog::Options appHang;
    };

    // "$XDG_STATE_HOME/tovalo/error-reports"; nullopt when no home directory is known.
    static std::optional<std::string> defaultSpoolDirectory(const XdgPaths& paths);

    LinuxErrorReportingClient(std::shared_ptr<DispatchRuntime> runtime, HttpClient& http,
                              Config config);
    ~LinuxErrorReportingClient() override;
    LinuxErrorReportingClient(const LinuxErrorReportingClient&) = delete;
    LinuxErrorReportingClient& operator=(const LinuxErrorReportingClient&) = delete;

    void start(const ErrorReportingOptions& options) override;
    void setUser(const ReportUser& user) override;
    void captureError(const Error& error, const ScopeConfiguration& configure) override;
    void captureMessage(const std::string& message, const ScopeConfiguration& configure) override;

    // True once start() found a valid DSN.
    bool isEnabled() const;
    // Captures dropped because the in-memory queue was full.
    std::size_t droppedCaptureCount() const;
    // The file a crash of this process would be recorded in; empty without a crash handler.
    std::string crashRecordPath() const;
    ErrorReportSpool& spool() const;

  private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace tovalo
