#include "platform/linux/error_report_sanitizer.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <variant>

namespace tovalo {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";     // U+2026
// What a non-string value (number, Boolean, null, container) costs of the budget.
constexpr std::size_t kScalarCost = 8;

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at `i`; 0 when it is not well formed, with
// `invalidLength` set to the bytes of the maximal ill-formed prefix to replace by one U+FFFD.
std::size_t sequenceLength(std::string_view s, std::size_t i, std::size_t& invalidLength) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    invalidLength = 1;
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // bounds of the second byte, which differ for some leads
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= s.size()) {
            invalidLength = k;
            return 0;
        }
        const unsigned char c = byte(i + k);
        const bool ok = k == 1 ? (c >= low && c <= high) : isContinuation(c);
        if (!ok) {
            invalidLength = k;
            return 0;
        }
    }
    return length;
}

// Appends `text` to `out` as valid UTF-8 of at most `maxBytes` bytes; true when it was cut.
bool appendBoundedUtf8(std::string& out, std::string_view text, std::size_t maxBytes) {
    const std::size_t start = out.size();
    const std::size_t limit = start + maxBytes;
    // Where to cut, leaving room for the ellipsis, should the text turn out too long. A limit too
    // small for the ellipsis cuts at the last whole character instead.
    const bool marksCut = maxBytes >= kEllipsis.size();
    const std::size_t room = marksCut ? maxBytes - kEllipsis.size() : maxBytes;
    std::size_t cut = start;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t invalidLength = 0;
        const std::size_t length = sequenceLength(text, i, invalidLength);
        out.append(length > 0 ? text.substr(i, length) : kReplacement);
        i += length > 0 ? length : invalidLength;
        if (out.size() > limit) {
            out.resize(cut);
            if (marksCut) {
                out.append(kEllipsis);
            }
            return true;
        }
        if (out.size() - start <= room) {
            cut = out.size();
        }
    }
    return false;
}

}  // namespace

std::string toBoundedUtf8(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    appendBoundedUtf8(out, text, maxBytes);
    return out;
}

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
    if (appendBoundedUtf8(out, value, std::min(maxBytes, remaining_))) {
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
