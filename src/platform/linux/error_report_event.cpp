#include "platform/linux/error_report_event.h"

#include <chrono>
#include <cstdio>

#include "base/uuid.h"
#include "platform/posix/value_json.h"

namespace tovalo {

namespace {

using Json = nlohmann::ordered_json;

// Identifiers, names and tags are short by nature; the limits keep hostile ones short too.
constexpr std::size_t kMaxIdentifierBytes = 256;
constexpr std::size_t kMaxTagKeyBytes = 64;
constexpr std::size_t kMaxTagValueBytes = 256;
constexpr std::size_t kMaxTags = 64;
constexpr std::size_t kMaxFrames = 128;
constexpr std::size_t kMaxFrameBytes = 1024;

Json userJson(const ReportUser& user, ErrorReportSanitizer& sanitizer) {
    Json json = Json::object();
    json["id"] = sanitizer.text(user.userId, kMaxIdentifierBytes);
    if (user.email) {
        json["email"] = sanitizer.text(*user.email, kMaxIdentifierBytes);
    }
    if (user.username) {
        json["username"] = sanitizer.text(*user.username, kMaxIdentifierBytes);
    }
    if (!user.data.empty()) {
        json["data"] = valueToOrderedJson(sanitizer.map(user.data));
    }
    return json;
}

Json tagsJson(const ReportTags& tags, ErrorReportSanitizer& sanitizer) {
    Json json = Json::object();
    std::size_t count = 0;
    for (const auto& [key, value] : tags) {
        if (count++ == kMaxTags) {
            break;
        }
        json[sanitizer.text(key, kMaxTagKeyBytes)] = sanitizer.text(value, kMaxTagValueBytes);
    }
    return json;
}

Json exceptionJson(const ErrorReportException& exception, ErrorReportSanitizer& sanitizer) {
    Json json = Json::object();
    json["type"] = sanitizer.text(exception.type, kMaxIdentifierBytes);
    json["value"] = sanitizer.text(exception.value);
    if (exception.code) {
        json["code"] = *exception.code;
    }
    json["handled"] = exception.handled;
    if (exception.mechanism) {
        json["mechanism"] = sanitizer.text(*exception.mechanism, kMaxIdentifierBytes);
    }
    if (!exception.frames.empty()) {
        Json frames = Json::array();
        for (const auto& frame : exception.frames) {
            if (frames.size() == kMaxFrames) {
                break;
            }
            frames.push_back(sanitizer.text(frame, kMaxFrameBytes));
        }
        json["frames"] = std::move(frames);
    }
    return json;
}

}  // namespace

std::string newErrorReportEventId() {
    static constexpr char kHex[] = "0123456789abcdef";
    const Uuid uuid = Uuid::random();
    std::string id;
    id.reserve(32);
    for (const std::uint8_t byte : uuid.bytes()) {
        id += kHex[byte >> 4];
        id += kHex[byte & 0x0F];
    }
    return id;
}

std::string formatReportTimestamp(WallTime time) {
    namespace chrono = std::chrono;
    const auto millis = chrono::floor<chrono::milliseconds>(time);
    const auto day = chrono::floor<chrono::days>(millis);
    const chrono::year_month_day date(day);
    const chrono::hh_mm_ss clock(millis - day);
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string serializeErrorReportEvent(const ErrorReportEvent& event,
                                      const ErrorReportSanitizer::Limits& limits) {
    ErrorReportSanitizer sanitizer(limits);
    Json json = Json::object();
    json["event_id"] = sanitizer.text(event.eventId, kMaxIdentifierBytes);
    json["timestamp"] = formatReportTimestamp(event.timestamp);
    json["level"] = reportLevelName(event.level);
    json["platform"] = "native";
    if (!event.environment.empty()) {
        json["environment"] = sanitizer.text(event.environment, kMaxIdentifierBytes);
    }
    if (!event.release.empty()) {
        json["release"] = sanitizer.text(event.release, kMaxIdentifierBytes);
    }
    // The message and the error come before the caller's data so that, when the budget runs
    // out, it is the data that gets cut.
    if (event.message) {
        json["message"] = sanitizer.text(*event.message);
    }
    if (event.exception) {
        json["exception"] = exceptionJson(*event.exception, sanitizer);
    }
    if (event.user) {
        json["user"] = userJson(*event.user, sanitizer);
    }
    json["tags"] = tagsJson(event.tags, sanitizer);
    json["extra"] = valueToOrderedJson(sanitizer.map(event.extras));
    if (!event.contexts.empty()) {
        json["contexts"] = valueToOrderedJson(sanitizer.map(event.contexts));
    }
    // Everything is valid UTF-8 by now; `replace` only guards against a mistake here.
    return jsonText(json);
}

}  // namespace tovalo
