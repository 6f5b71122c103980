#pragma once

// Where telemetry goes: the error-reporting DSN (and, for tests and staging, an endpoint that
// replaces the one derived from it) and the analytics token and server. These belong to the
// deployment, not the code: built-in constants of the right shape, overlaid by
// <configDir>/telemetry.json, then by environment variables. Every layer is validated and an
// invalid value leaves the layer below in force, so the result is always well formed.
// A value type, built once at start-up by whoever wires the telemetry clients.

#include <optional>
#include <string>
#include <string_view>

#include "platform/posix/xdg_paths.h"

namespace tovalo {

struct TelemetryConfig {
    using EnvironmentLookup = XdgPaths::EnvironmentLookup;

    // The file read from the configuration folder, a JSON object with the optional string keys
    // "errorReportingDsn", "errorReportingEndpoint", "analyticsToken" and "analyticsServerUrl";
    // other keys are ignored.
    static constexpr std::string_view kFileName = "telemetry.json";

    std::string errorReportingDsn;   // always accepted by ReportingDsn::parse
    std::string analyticsToken;      // 32 lower-case hexadecimal characters
    std::string analyticsServerUrl;  // http(s) URL without a trailing slash
    // A full http(s) URL that replaces the endpoint derived from the DSN.
    std::optional<std::string> errorReportingEndpointOverride;

    static TelemetryConfig builtIn();

    // builtIn() overlaid with <configDir>/telemetry.json (skipped when configDir is empty, the
    // file is missing, unreadable or not a JSON object), then with the environment variables
    // TOVALO_ERROR_REPORTING_DSN, TOVALO_ERROR_REPORTING_ENDPOINT, TOVALO_ANALYTICS_TOKEN and
    // TOVALO_ANALYTICS_SERVER_URL. Reads a file: call it off the main thread or at start-up.
    static TelemetryConfig load(const std::string& configDir, const EnvironmentLookup& env);

    // The endpoint the error-reporting client posts envelopes to.
    std::string errorReportingEndpoint() const;

    static bool isAnalyticsToken(std::string_view text);
    // "http://" or "https://" followed by a host, with no spaces or control characters.
    static bool isWebUrl(std::string_view text);

    friend bool operator==(const TelemetryConfig&, const TelemetryConfig&) = default;
};

}  // namespace tovalo
