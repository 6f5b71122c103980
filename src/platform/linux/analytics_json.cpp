#include "platform/linux/analytics_json.h"

#include <exception>
#include <limits>
#include <nlohmann/json.hpp>
#include <type_traits>
#include <variant>

namespace tovalo {

namespace {

using Json = nlohmann::json;

// Records are a few levels deep; refusing deeper input bounds the recursion below.
constexpr int kMaxDepth = 32;

Json toJson(const Value& value) {
    return std::visit(
        [](const auto& v) -> Json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Value::Null>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, ValueList>) {
                Json array = Json::array();
                for (const Value& element : v) {
                    array.push_back(toJson(element));
                }
                return array;
            } else if constexpr (std::is_same_v<T, ValueMap>) {
                Json object = Json::object();
                for (const auto& [key, element] : v) {
                    object[key] = toJson(element);
                }
                return object;
            } else {
                return Json(v);
            }
        },
        value.storage());
}

std::optional<Value> fromJson(const Json& json, int depth) {
    switch (json.type()) {
        case Json::value_t::null:
            return Value();
        case Json::value_t::boolean:
            return Value(json.get<bool>());
        case Json::value_t::number_integer:
            return Value(json.get<std::int64_t>());
        case Json::value_t::number_unsigned: {
            const auto u = json.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return std::nullopt;
            }
            return Value(static_cast<std::int64_t>(u));
        }
        case Json::value_t::number_float:
            return Value(json.get<double>());
        case Json::value_t::string:
            return Value(json.get<std::string>());
        case Json::value_t::array: {
            if (depth >= kMaxDepth) {
                return std::nullopt;
            }
            ValueList list;
            list.reserve(json.size());
            for (const Json& element : json) {
                auto value = fromJson(element, depth + 1);
                if (!value) {
                    return std::nullopt;
                }
                list.push_back(std::move(*value));
            }
            return Value(std::move(list));
        }
        case Json::value_t::object: {
            if (depth >= kMaxDepth) {
                return std::nullopt;
            }
            ValueMap map;
            for (const auto& [key, element] : json.items()) {
                auto value = fromJson(element, depth + 1);
                if (!value) {
                    return std::nullopt;
                }
                map.insert_or_assign(key, std::move(*value));
            }
            return Value(std::move(map));
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

std::string AnalyticsJson::serialize(const Value& value) {
    try {
        return toJson(value).dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "null";
    }
}

std::optional<Value> AnalyticsJson::parse(std::string_view text) {
    try {
        const Json json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (json.is_discarded()) {
            return std::nullopt;
        }
        return fromJson(json, 0);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace tovalo
