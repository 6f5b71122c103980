#include "base/debug_log.h"

#include <cstdio>
#include <mutex>

namespace tovalo {

namespace {

bool needsQuotes(const std::string& s) {
    if (s.empty()) {
        return true;
    }
    for (char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '"' || c == '\\' || c == '=') {
            return true;
        }
    }
    return false;
}

void appendValue(std::string& out, const Value& value) {
    if (const auto* s = std::get_if<std::string>(&value.storage()); s && !needsQuotes(*s)) {
        out += *s;
    } else {
        out += value.debugDescription();
    }
}

struct SinkState {
    std::mutex mutex;
    DebugLogSink sink;  // empty: the stderr sink
};

SinkState& sinkState() {
    // Never destroyed, so lines written while static objects are torn down still find it.
    static auto* state = new SinkState;
    return *state;
}

// Set while this thread runs a sink; a write from inside the sink would deadlock on the mutex.
thread_local bool insideSink = false;

}  // namespace

std::string formatDebugLine(const DebugLogLine& line) {
    std::string out;
    auto separate = [&out] {
        if (!out.empty()) {
            out += ' ';
        }
    };
    if (!line.tag.empty()) {
        out += '[';
        out += line.tag;
        out += ']';
    }
    if (!line.message.empty()) {
        separate();
        out += line.message;
    }
    for (const auto& [key, value] : line.properties) {
        separate();
        out += key;
        out += '=';
        appendValue(out, value);
    }
    return out;
}

void DebugLog::write(DebugLogLine line) {
    if (insideSink) {
        return;
    }
    auto& state = sinkState();
    std::lock_guard lock(state.mutex);
    insideSink = true;
    // A throwing sink must not leave the flag set or let the exception escape into the caller.
    try {
        if (state.sink) {
            state.sink(line);
        } else {
            writeToStderr(line);
        }
    } catch (...) {
        // A diagnostics line is not worth failing the work that wrote it.
    }
    insideSink = false;
}

void DebugLog::write(std::string tag, std::string message, DebugLogProperties properties) {
    write(DebugLogLine{std::move(tag), std::move(message), std::move(properties)});
}

DebugLogSink DebugLog::setSink(DebugLogSink sink) {
    auto& state = sinkState();
    std::lock_guard lock(state.mutex);
    std::swap(state.sink, sink);
    return sink;
}

void DebugLog::writeToStderr(const DebugLogLine& line) {
    std::string text = formatDebugLine(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace tovalo
