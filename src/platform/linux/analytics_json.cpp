#include "platform/linux/analytics_json.h"

#include <exception>

#include "platform/posix/value_json.h"

namespace tovalo {

namespace {

// Records are a few levels deep; refusing deeper input bounds the recursion.
constexpr int kMaxNesting = 32;

}  // namespace

std::string AnalyticsJson::serialize(const Value& value) {
    try {
        return jsonText(valueToJson(value));
    } catch (const std::exception&) {
        return "null";
    }
}

std::optional<Value> AnalyticsJson::parse(std::string_view text) {
    return parseJsonValue(text, kMaxNesting);
}

}  // namespace tovalo
