#pragma once

// The developer diagnostics log: "[Tag] message key=value ..." lines that components write
// while they work. Debug builds send each line to stderr (or to a sink a test installs); other
// builds define TOVALO_NO_DEBUG_LOG and TOVALO_DEBUG_LOG compiles to nothing, so lines cost
// nothing there. The log is process-wide; whoever replaces the sink restores it.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/value.h"

namespace tovalo {

// Properties in the order the writer gave them (not sorted), so lines read as written.
using DebugLogProperties = std::vector<std::pair<std::string, Value>>;

struct DebugLogLine {
    // The component, without brackets ("PinnedWindow"); may be empty for untagged lines.
    std::string tag;
    std::string message;
    DebugLogProperties properties;

    friend bool operator==(const DebugLogLine&, const DebugLogLine&) = default;
};

// One line of text, without a line break: "[Tag] message key=value key2=value2".
// The parts present are joined by single spaces; an empty tag leaves out the brackets.
// A string value is written bare when it is non-empty and holds no whitespace, control
// character, '"', '\\' or '='; otherwise it is quoted and escaped like Value::debugDescription,
// so every property stays readable as one key=value token. Other values use debugDescription.
std::string formatDebugLine(const DebugLogLine& line);

using DebugLogSink = std::function<void(const DebugLogLine&)>;

class DebugLog {
  public:
    // Hands the line to the current sink. Sinks run one at a time, so a sink needs no lock of
    // its own and lines from several threads never interleave. A line written from inside a
    // sink is dropped: delivering it would have to wait for the sink that writes it.
    static void write(DebugLogLine line);
    static void write(std::string tag, std::string message, DebugLogProperties properties = {});

    // Installs `sink` (an empty function restores the stderr sink) and returns the previous one.
    // Once this returns the previous sink is not running and will not be called again.
    // Not to be called from inside a sink, which would wait for itself.
    static DebugLogSink setSink(DebugLogSink sink);

    // The default sink: the formatted line plus a line break, written to stderr in one write.
    static void writeToStderr(const DebugLogLine& line);
};

// Installs a sink for its lifetime and puts the previous one back, e.g. for a test.
class ScopedDebugLogSink {
  public:
    explicit ScopedDebugLogSink(DebugLogSink sink)
        : previous_(DebugLog::setSink(std::move(sink))) {}
    ~ScopedDebugLogSink() { DebugLog::setSink(std::move(previous_)); }
    ScopedDebugLogSink(const ScopedDebugLogSink&) = delete;
    ScopedDebugLogSink& operator=(const ScopedDebugLogSink&) = delete;

  private:
    DebugLogSink previous_;
};

}  // namespace tovalo

// TOVALO_DEBUG_LOG("PinnedWindow", "present request", {{"window_id", id}, {"existing", true}});
// The properties are optional. With TOVALO_NO_DEBUG_LOG defined the arguments are still
// compiled, so a release build cannot break on them or warn about variables only logged, but
// they are never evaluated and the call is dead code.
#ifdef TOVALO_NO_DEBUG_LOG
#define TOVALO_DEBUG_LOG(tag, message, ...)                                        \
    do {                                                                           \
        if (false) {                                                               \
            ::tovalo::DebugLog::write((tag), (message)__VA_OPT__(, ) __VA_ARGS__); \
        }                                                                          \
    } while (false)
#else
#define TOVALO_DEBUG_LOG(tag, message, ...)                                    \
    do {                                                                       \
        ::tovalo::DebugLog::write((tag), (message)__VA_OPT__(, ) __VA_ARGS__); \
    } while (false)
#endif
