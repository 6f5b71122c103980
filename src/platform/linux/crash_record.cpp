#include "platform/linux/crash_record.h"

#include <csignal>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace tovalo {

namespace {

using Json = nlohmann::json;

// Splits off the first line of `text` (without its line break).
std::string_view takeLine(std::string_view& text) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

std::optional<std::uint64_t> parseNumber(std::string_view text, int base) {
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return value;
}

Value toValue(const Json& json) {
    switch (json.type()) {
        case Json::value_t::boolean:
            return json.get<bool>();
        case Json::value_t::number_integer:
            return json.get<std::int64_t>();
        case Json::value_t::number_unsigned:
            return json.get<std::uint64_t>();
        case Json::value_t::number_float:
            return json.get<double>();
        case Json::value_t::string:
            return json.get<std::string>();
        case Json::value_t::array: {
            ValueList list;
            for (const auto& item : json) {
                list.push_back(toValue(item));
            }
            return list;
        }
        case Json::value_t::object: {
            ValueMap map;
            for (const auto& [key, item] : json.items()) {
                map.emplace(key, toValue(item));
            }
            return map;
        }
        default:
            return Value();
    }
}

std::optional<std::string> stringField(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

void applyContext(const std::string& line, ErrorReportEvent& event) {
    const Json context = Json::parse(line, nullptr, false);
    if (!context.is_object()) {
        return;
    }
    if (auto environment = stringField(context, "environment")) {
        event.environment = std::move(*environment);
    }
    if (auto release = stringField(context, "release")) {
        event.release = std::move(*release);
    }
    const auto user = context.find("user");
    if (user != context.end() && user->is_object()) {
        ReportUser parsed;
        parsed.userId = stringField(*user, "id").value_or("");
        parsed.email = stringField(*user, "email");
        parsed.username = stringField(*user, "username");
        if (const auto data = user->find("data"); data != user->end() && data->is_object()) {
            const Value value = toValue(*data);
            if (const auto* map = value.asMap()) {
                parsed.data = *map;
            }
        }
        event.user = std::move(parsed);
    }
}

std::string hexAddress(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(address));
    return text;
}

}  // namespace

std::optional<CrashRecord> CrashRecord::parse(std::string_view text) {
    if (takeLine(text) != kCrashRecordMagic) {
        return std::nullopt;
    }
    CrashRecord record;
    bool inBacktrace = false;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        if (inBacktrace) {
            if (!line.empty()) {
                record.frames.emplace_back(line);
            }
            continue;
        }
        if (line == "backtrace") {
            inBacktrace = true;
            continue;
        }
        const auto space = line.find(' ');
        if (space == std::string_view::npos) {
            continue;
        }
        const std::string_view key = line.substr(0, space);
        const std::string_view value = line.substr(space + 1);
        if (key == "signal") {
            const auto number = parseNumber(value, 10);
            if (number && *number < 1024) {
                record.signalNumber = static_cast<int>(*number);
            }
        } else if (key == "name") {
            record.signalName = std::string(value);
        } else if (key == "code") {
            const bool negative = value.starts_with('-');
            const auto number = parseNumber(negative ? value.substr(1) : value, 10);
            if (number && *number < 1u << 20) {
                record.signalCode = static_cast<int>(*number) * (negative ? -1 : 1);
            }
        } else if (key == "address") {
            record.faultAddress = parseNumber(value, 16).value_or(0);
        } else if (key == "time") {
            if (const auto millis = parseNumber(value, 10)) {
                record.time = WallTime(std::chrono::duration_cast<WallTime::duration>(
                    std::chrono::milliseconds(static_cast<std::int64_t>(*millis))));
            }
        } else if (key == "context") {
            record.context = std::string(value);
        }
    }
    if (record.signalNumber <= 0) {
        return std::nullopt;
    }
    if (record.signalName.empty()) {
        record.signalName = crashSignalName(record.signalNumber);
    }
    return record;
}

std::string crashSignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGILL:
            return "SIGILL";
        case SIGFPE:
            return "SIGFPE";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "SIG" + std::to_string(signalNumber);
    }
}

ErrorReportEvent crashReportEvent(const CrashRecord& record, const ErrorReportEvent& defaults) {
    ErrorReportEvent event = defaults;
    if (record.time) {
        event.timestamp = *record.time;
    }
    applyContext(record.context, event);
    event.level = ReportLevel::fatal;
    event.message = "Fatal signal " + record.signalName;
    ErrorReportException exception;
    exception.type = record.signalName;
    exception.value =
        "Fatal signal " + record.signalName + " at address " + hexAddress(record.faultAddress);
    exception.code = record.signalNumber;
    exception.handled = false;
    exception.mechanism = "signal";
    exception.frames = record.frames;
    event.exception = std::move(exception);
    event.tags = {{"type", "crash"}};
    event.extras = {
        {"signal_number", record.signalNumber},
        {"signal_name", record.signalName},
        {"signal_code", record.signalCode},
        {"fault_address", hexAddress(record.faultAddress)},
    };
    return event;
}

std::string crashContextLine(const std::string& environment, const std::string& release,
                             const std::optional<ReportUser>& user) {
    // Serialised as a report would be, so the line is valid UTF-8 and bounded.
    ErrorReportEvent event;
    event.environment = environment;
    event.release = release;
    event.user = user;
    const Json serialized = Json::parse(serializeErrorReportEvent(event), nullptr, false);
    Json context = Json::object();
    for (const char* key : {"environment", "release", "user"}) {
        if (serialized.is_object() && serialized.contains(key)) {
            context[key] = serialized[key];
        }
    }
    // dump() escapes line breaks inside strings, so the context stays on one line.
    return context.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tovalo
