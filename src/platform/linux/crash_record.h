#pragma once

// What the crash signal handler leaves behind about a fatal signal, read back at the next
// start and turned into a fatal error report. The record is plain text so that the handler
// can write it without allocating:
//
//   tovalo-crash-record 1
//   signal 11
//   name SIGSEGV
//   code 1
//   address 0x0000000000000010
//   time 1767225600123          (milliseconds since the Unix epoch)
//   context {"release": ...}    (one line of JSON: the scope at the time of the crash)
//   backtrace
//   <one frame per line, innermost first>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "platform/linux/error_report_event.h"

namespace tovalo {

inline constexpr std::string_view kCrashRecordMagic = "tovalo-crash-record 1";

struct CrashRecord {
    int signalNumber = 0;
    std::string signalName;
    int signalCode = 0;
    std::uint64_t faultAddress = 0;
    std::optional<WallTime> time;
    std::string context;
    std::vector<std::string> frames;

    // nullopt unless the text starts with the magic line and names a signal.
    static std::optional<CrashRecord> parse(std::string_view text);
};

// "SIGSEGV", "SIGBUS", "SIGILL", "SIGFPE", "SIGABRT"; "SIG<number>" for any other signal.
std::string crashSignalName(int signalNumber);

// The fatal report of a crash: message "Fatal signal SIGSEGV", an unhandled exception with the
// backtrace, the signal's details as extras. Environment, release and user come from the
// record's context when it has them (they describe the run that crashed), else from
// `defaults`; so do the event id and, when the record has no time, the timestamp.
ErrorReportEvent crashReportEvent(const CrashRecord& record, const ErrorReportEvent& defaults);

// One line of JSON holding the scope a crash record should carry.
std::string crashContextLine(const std::string& environment, const std::string& release,
                             const std::optional<ReportUser>& user);

}  // namespace tovalo
