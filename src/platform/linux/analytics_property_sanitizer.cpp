#include "platform/linux/analytics_property_sanitizer.h"

#include <algorithm>
#include <cmath>
#include <variant>

namespace tovalo {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct Utf8Step {
    std::size_t length;  // bytes consumed
    bool valid;          // false: the bytes are one ill-formed sequence, replaced as a whole
};

// The sequence starting at `i`. An ill-formed one ends before the first byte that could not
// continue it, so a following valid character is never swallowed (the "maximal subpart" rule).
Utf8Step nextSequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= text.size()) {
            return {k, false};
        }
        const unsigned char c = byte(i + k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
            return {k, false};
        }
    }
    return {length, true};
}

// What a string costs in JSON: quotes plus escapes (control characters take six bytes).
std::size_t quotedSize(std::string_view text) {
    std::size_t size = 2;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        size += u < 0x20 ? 6 : (c == '"' || c == '\\') ? 2 : 1;
    }
    return size;
}

// Room for any 64-bit integer or shortest round-trip double.
constexpr std::size_t kNumberSize = 24;

}  // namespace

struct AnalyticsPropertySanitizer::Budget {
    std::size_t remaining;
    bool exhausted = false;

    bool take(std::size_t bytes) {
        if (bytes > remaining) {
            exhausted = true;
            return false;
        }
        remaining -= bytes;
        return true;
    }
};

std::string AnalyticsPropertySanitizer::sanitizeText(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    std::size_t i = 0;
    while (i < text.size()) {
        const Utf8Step step = nextSequence(text, i);
        const std::string_view piece = step.valid ? text.substr(i, step.length) : kReplacement;
        if (out.size() + piece.size() > maxBytes) {
            break;
        }
        out.append(piece);
        i += step.length;
    }
    return out;
}

std::string AnalyticsPropertySanitizer::sanitizeName(std::string_view name) const {
    return sanitizeText(name, limits_.maxNameBytes);
}

ValueMap AnalyticsPropertySanitizer::sanitizeProperties(const ValueMap& properties) const {
    Budget budget{limits_.maxMapBytes};
    ValueMap out;
    sanitizeMap(properties, 0, budget, out);
    return out;
}

bool AnalyticsPropertySanitizer::sanitizeMap(const ValueMap& map, int nesting, Budget& budget,
                                             ValueMap& out) const {
    if (!budget.take(2)) {
        return false;
    }
    for (const auto& [rawKey, rawValue] : map) {
        if (out.size() >= limits_.maxCollectionSize) {
            break;
        }
        std::string key = sanitizeName(rawKey);
        if (key.empty() || out.contains(key)) {
            continue;
        }
        // Each entry is all or nothing: one that does not fit is left out, the next may fit.
        Budget entry{budget.remaining};
        Value value;
        if (!entry.take(quotedSize(key) + 2) || !sanitizeValue(rawValue, nesting, entry, value)) {
            continue;
        }
        budget.remaining = entry.remaining;
        out.emplace(std::move(key), std::move(value));
    }
    return true;
}

bool AnalyticsPropertySanitizer::sanitizeValue(const Value& value, int nesting, Budget& budget,
                                               Value& out) const {
    const Value::Storage& storage = value.storage();
    if (std::holds_alternative<Value::Null>(storage)) {
        out = Value();
        return budget.take(4);
    }
    if (const bool* b = std::get_if<bool>(&storage)) {
        out = Value(*b);
        return budget.take(5);
    }
    if (const std::int64_t* i = std::get_if<std::int64_t>(&storage)) {
        out = Value(*i);
        return budget.take(kNumberSize);
    }
    if (const double* d = std::get_if<double>(&storage)) {
        out = Value(*d);
        return std::isfinite(*d) && budget.take(kNumberSize);
    }
    if (const std::string* text = std::get_if<std::string>(&storage)) {
        std::string clean = sanitizeText(*text, limits_.maxStringBytes);
        if (!budget.take(quotedSize(clean))) {
            return false;
        }
        out = Value(std::move(clean));
        return true;
    }
    if (nesting >= limits_.maxNesting) {
        return false;
    }
    if (const ValueList* list = std::get_if<ValueList>(&storage)) {
        if (!budget.take(2)) {
            return false;
        }
        ValueList elements;
        for (const Value& element : *list) {
            if (elements.size() >= limits_.maxCollectionSize) {
                break;
            }
            Value clean;
            if (!sanitizeValue(element, nesting + 1, budget, clean)) {
                if (budget.exhausted) {
                    return false;
                }
                // Positions matter in a list: what cannot be sent becomes null.
                clean = Value();
                if (!budget.take(4)) {
                    return false;
                }
            }
            elements.push_back(std::move(clean));
            if (!budget.take(1)) {
                return false;
            }
        }
        out = Value(std::move(elements));
        return true;
    }
    ValueMap entries;
    if (!sanitizeMap(*std::get_if<ValueMap>(&storage), nesting + 1, budget, entries) ||
        budget.exhausted) {
        return false;
    }
    out = Value(std::move(entries));
    return true;
}

}  // namespace tovalo
