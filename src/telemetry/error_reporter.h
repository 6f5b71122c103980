#pragma once

// The program's one way to report handled errors, noteworthy conditions and uncaught
// exceptions. It starts the error-reporting client once with fixed options, tags reports with the
// installation's identity, and gives every report the same context keys. The composition root
// owns the one instance for the life of the process and hands it to every component that
// reports; captures are safe from any thread. Nothing it does ever throws: client failures are
// swallowed and never reported (a reporter that reports its own failures can loop).

#include <atomic>
#include <mutex>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/value.h"
#include "platform/error_reporting_client.h"
#include "platform/uncaught_exception_hooks.h"

namespace tovalo {

class ErrorReporter {
  public:
    // The message of the report filed for an uncaught exception. The reporting service groups
    // reports by it, so the text stays what it has always been.
    static constexpr const char* uncaughtExceptionMessage = "Uncaught NSException";

    // `client` and `hooks` must outlive the reporter. `dsn` is where the client sends reports.
    ErrorReporter(ErrorReportingClient& client, UncaughtExceptionHooks& hooks, std::string dsn);
    // Puts the previous uncaught-exception handler back when ours is still the installed one,
    // so the hooks never call into a destroyed reporter.
    ~ErrorReporter();

    ErrorReporter(const ErrorReporter&) = delete;
    ErrorReporter& operator=(const ErrorReporter&) = delete;

    // Starts the client once (later calls do nothing). Until it has succeeded every capture is
    // dropped.
    void start() noexcept;
    bool isStarted() const noexcept { return started_.load(std::memory_order_acquire); }

    // Attributes later reports to the installation; ignored before start().
    void setUser(const std::string& deviceID, const std::string& appVersion,
                 const std::string& appBuild) noexcept;

    // Once per reporter: remembers the hooks' current handler and installs one that reports the
    // exception and then hands it to that previous handler.
    void installExceptionHandler() noexcept;
    // Files the fatal "uncaught exception" report (when started), then calls the previous
    // handler if there was one.
    void handleUncaughtException(const UncaughtException& exception) noexcept;

    // Report a handled error / a message. `extras` holds "operation" and the caller's own keys;
    // the report's context is `extras` plus "source_file" (the call site's file name without
    // folder and extension) and "source_line" (its line). Those two are written last, so an
    // extra of the same name never replaces them. `tags` replace the scope's tags only when
    // given. Dropped before start().
    void capture(const Error& error, ReportLevel level = ReportLevel::error,
                 std::optional<ReportTags> tags = std::nullopt, ValueMap extras = {},
                 std::source_location location = std::source_location::current()) noexcept;
    void capture(const std::string& message, ReportLevel level,
                 std::optional<ReportTags> tags = std::nullopt, ValueMap extras = {},
                 std::source_location location = std::source_location::current()) noexcept;

  private:
    struct InstalledHandler;

    static ScopeConfiguration scopeConfiguration(ReportLevel level, std::optional<ReportTags> tags,
                                                 ValueMap extras,
                                                 const std::source_location& location);

    ErrorReportingClient& client_;
    UncaughtExceptionHooks& hooks_;
    const std::string dsn_;

    std::atomic<bool> started_{false};
    // Serialises start() and guards the members below.
    mutable std::mutex mutex_;
    bool exceptionHandlerInstalled_ = false;
    UncaughtExceptionHandler previousExceptionHandler_;
};

// The name of the source file at `path` without its folder and its last extension:
// "/src/telemetry/device_id_provider.cpp" -> "device_id_provider".
std::string sourceFileName(std::string_view path);

}  // namespace tovalo
