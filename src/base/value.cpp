#include "base/value.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tovalo {

Value Value::stringList(const std::vector<std::string>& strings) {
    ValueList list;
    list.reserve(strings.size());
    for (const auto& s : strings) {
        list.emplace_back(s);
    }
    return Value(std::move(list));
}

std::optional<bool> Value::asBool() const {
    if (auto b = std::get_if<bool>(&storage_)) {
        return *b;
    }
    return std::nullopt;
}

std::optional<std::string> Value::asString() const {
    if (auto s = std::get_if<std::string>(&storage_)) {
        return *s;
    }
    return std::nullopt;
}

const ValueList* Value::asList() const {
    return std::get_if<ValueList>(&storage_);
}

const ValueMap* Value::asMap() const {
    return std::get_if<ValueMap>(&storage_);
}

std::optional<std::int64_t> Value::asInt() const {
    if (auto i = std::get_if<std::int64_t>(&storage_)) {
        return *i;
    }
    if (auto d = std::get_if<double>(&storage_)) {
        // 2^63 is exactly representable; anything at or above it does not fit.
        constexpr double kLimit = 9223372036854775808.0;
        if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -kLimit && *d < kLimit) {
            return static_cast<std::int64_t>(*d);
        }
    }
    return std::nullopt;
}

std::optional<double> Value::asDouble() const {
    if (auto d = std::get_if<double>(&storage_)) {
        return *d;
    }
    if (auto i = std::get_if<std::int64_t>(&storage_)) {
        return static_cast<double>(*i);
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> Value::asStringList() const {
    const auto* list = asList();
    if (!list) {
        return std::nullopt;
    }
    std::vector<std::string> out;
    out.reserve(list->size());
    for (const auto& item : *list) {
        auto s = item.asString();
        if (!s) {
            return std::nullopt;
        }
        out.push_back(std::move(*s));
    }
    return out;
}

const Value* Value::find(std::string_view key) const {
    const auto* map = asMap();
    if (!map) {
        return nullptr;
    }
    auto it = map->find(key);
    return it == map->end() ? nullptr : &it->second;
}

namespace {

void appendQuoted(std::string& out, const std::string& s) {
    out += '"';
    for (char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

void appendDescription(std::string& out, const Value& value) {
    const auto& storage = value.storage();
    if (std::holds_alternative<Value::Null>(storage)) {
        out += "null";
    } else if (auto b = std::get_if<bool>(&storage)) {
        out += *b ? "true" : "false";
    } else if (auto i = std::get_if<std::int64_t>(&storage)) {
        out += std::to_string(*i);
    } else if (auto d = std::get_if<double>(&storage)) {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, *d);
        out.append(buffer, result.ptr);
    } else if (auto s = std::get_if<std::string>(&storage)) {
        appendQuoted(out, *s);
    } else if (auto list = std::get_if<ValueList>(&storage)) {
        out += '[';
        for (std::size_t n = 0; n < list->size(); ++n) {
            out += n ? ", " : "";
            appendDescription(out, (*list)[n]);
        }
        out += ']';
    } else if (auto map = std::get_if<ValueMap>(&storage)) {
        out += '{';
        bool first = true;
        for (const auto& [key, item] : *map) {
            out += first ? "" : ", ";
            first = false;
            appendQuoted(out, key);
            out += ": ";
            appendDescription(out, item);
        }
        out += '}';
    }
}

}  // namespace

std::string Value::debugDescription() const {
    std::string out;
    appendDescription(out, *this);
    return out;
}

}  // namespace tovalo
