#include "platform/linux/analytics_property_sanitizer.h"

#include <cmath>
#include <variant>

#include "base/utf8.h"

namespace tovalo {

namespace {

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

std::string AnalyticsPropertySanitizer::sanitizeName(std::string_view name) const {
    return sanitizeUtf8(name, limits_.maxNameBytes);
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
        std::string clean = sanitizeUtf8(*text, limits_.maxStringBytes);
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
