#include "platform/linux/error_report_sanitizer.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <variant>

#include "base/utf8.h"

namespace tovalo {

namespace {

// Ends a string that was cut, so a reader knows it is not whole.
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026
// What a non-string value (number, Boolean, null, container) costs of the budget.
constexpr std::size_t kScalarCost = 8;

}  // namespace

ErrorReportSanitizer::ErrorReportSanitizer(Limits limits)
    : limits_(limits), remaining_(limits.maxTotalBytes) {}

bool ErrorReportSanitizer::charge(std::size_t bytes) {
    if (bytes > remaining_) {
        truncated_ = true;
        return false;
    }
    remaining_ -= bytes;
    return true;
}

std::string ErrorReportSanitizer::text(std::string_view value, std::size_t maxBytes) {
    std::string out;
    if (appendSanitizedUtf8(out, value, std::min(maxBytes, remaining_), kEllipsis)) {
        truncated_ = true;
    }
    remaining_ -= std::min(out.size(), remaining_);
    return out;
}

Value ErrorReportSanitizer::sanitize(const Value& value, std::size_t depth) {
    return std::visit(
        [&](const auto& v) -> Value {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return text(v);
            } else if constexpr (std::is_same_v<T, double>) {
                // JSON has no NaN or infinity.
                return std::isfinite(v) ? Value(v) : Value();
            } else if constexpr (std::is_same_v<T, ValueList>) {
                if (depth >= limits_.maxDepth) {
                    truncated_ = true;
                    return Value();
                }
                return sanitizeList(v, depth + 1);
            } else if constexpr (std::is_same_v<T, ValueMap>) {
                if (depth >= limits_.maxDepth) {
                    truncated_ = true;
                    return Value();
                }
                return sanitizeMap(v, depth + 1);
            } else {
                return Value(value);
            }
        },
        value.storage());
}

ValueMap ErrorReportSanitizer::sanitizeMap(const ValueMap& map, std::size_t depth) {
    ValueMap out;
    std::size_t count = 0;
    for (const auto& [key, item] : map) {
        if (count == limits_.maxItems || !charge(kScalarCost)) {
            truncated_ = true;
            break;
        }
        ++count;
        std::string cleanKey = text(key, limits_.maxKeyBytes);
        // Two keys that differ only in bad bytes collapse to one; the first wins.
        if (!out.contains(cleanKey)) {
            out.emplace(std::move(cleanKey), sanitize(item, depth));
        }
    }
    return out;
}

ValueList ErrorReportSanitizer::sanitizeList(const ValueList& list, std::size_t depth) {
    ValueList out;
    out.reserve(std::min(list.size(), limits_.maxItems));
    for (const auto& item : list) {
        if (out.size() == limits_.maxItems || !charge(kScalarCost)) {
            truncated_ = true;
            break;
        }
        out.push_back(sanitize(item, depth));
    }
    return out;
}

}  // namespace tovalo
