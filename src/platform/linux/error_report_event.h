#pragma once

// One error report as it is stored and sent: what happened (a message, an error, or a crash),
// when, how severe, and the scope it happened in. The error reporting client builds events
// on its background queue and keeps them in its spool as the single line of JSON that
// `serializeErrorReportEvent` produces.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/value.h"
#include "platform/error_reporting_client.h"
#include "platform/linux/error_report_sanitizer.h"

namespace tovalo {

struct ErrorReportException {
    std::string type;   // an error's domain; a crash's signal name
    std::string value;  // an error's description; a crash's summary
    std::optional<std::int64_t> code;
    // False for crashes: nothing in the program saw them coming.
    bool handled = true;
    // How it was caught when not by a capture call, e.g. "signal".
    std::optional<std::string> mechanism;
    // The call stack, innermost frame first, as symbolised text.
    std::vector<std::string> frames;
};

struct ErrorReportEvent {
    std::string eventId;  // 32 lower-case hexadecimal digits
    WallTime timestamp;
    ReportLevel level = ReportLevel::error;
    std::string environment;  // left out when empty
    std::string release;      // left out when empty
    std::optional<ReportUser> user;
    ReportTags tags;
    ValueMap extras;
    std::optional<std::string> message;
    std::optional<ErrorReportException> exception;
    // Facts about the machine, e.g. {"os": {"name": "Linux", ...}}.
    ValueMap contexts;
};

// A fresh random event identifier: a version 4 UUID as 32 lower-case hex digits, no dashes.
std::string newErrorReportEventId();

// RFC 3339 in UTC with milliseconds, e.g. "2026-01-01T00:00:00.000Z".
std::string formatReportTimestamp(WallTime time);

// The event as one line of JSON. Every caller-supplied string is made valid UTF-8 and bounded,
// non-finite numbers become null and the whole stays within the sanitiser's limits.
std::string serializeErrorReportEvent(const ErrorReportEvent& event,
                                      const ErrorReportSanitizer::Limits& limits = {});

}  // namespace tovalo
