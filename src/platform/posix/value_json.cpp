#include "platform/posix/value_json.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <type_traits>
#include <variant>

namespace tovalo {

namespace {

template <typename Json>
Json toJson(const ValueMap& map);

template <typename Json>
Json toJson(const Value& value) {
    return std::visit(
        [](const auto& v) -> Json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Value::Null>) {
                return nullptr;
            } else if constexpr (std::is_same_v<T, double>) {
                // Said outright rather than left to the writer, so the tree holds what the text
                // will.
                return std::isfinite(v) ? Json(v) : Json(nullptr);
            } else if constexpr (std::is_same_v<T, ValueList>) {
                Json array = Json::array();
                for (const Value& element : v) {
                    array.push_back(toJson<Json>(element));
                }
                return array;
            } else if constexpr (std::is_same_v<T, ValueMap>) {
                return toJson<Json>(v);
            } else {
                return Json(v);
            }
        },
        value.storage());
}

template <typename Json>
Json toJson(const ValueMap& map) {
    Json object = Json::object();
    for (const auto& [key, value] : map) {
        object[key] = toJson<Json>(value);
    }
    return object;
}

// `nesting` counts the lists and maps around `json`.
std::optional<Value> fromJson(const nlohmann::json& json, int nesting, int maxNesting) {
    using Json = nlohmann::json;
    switch (json.type()) {
        case Json::value_t::null:
            return Value();
        case Json::value_t::boolean:
            return Value(json.get<bool>());
        case Json::value_t::number_integer:
            return Value(json.get<std::int64_t>());
        case Json::value_t::number_unsigned: {
            // The parser reads every non-negative integer as unsigned.
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
            if (nesting >= maxNesting) {
                return std::nullopt;
            }
            ValueList list;
            list.reserve(json.size());
            for (const Json& element : json) {
                auto value = fromJson(element, nesting + 1, maxNesting);
                if (!value) {
                    return std::nullopt;
                }
                list.push_back(std::move(*value));
            }
            return Value(std::move(list));
        }
        case Json::value_t::object: {
            if (nesting >= maxNesting) {
                return std::nullopt;
            }
            ValueMap map;
            // A parsed object holds each key once (the last of repeated keys).
            for (const auto& [key, element] : json.items()) {
                auto value = fromJson(element, nesting + 1, maxNesting);
                if (!value) {
                    return std::nullopt;
                }
                map.emplace(key, std::move(*value));
            }
            return Value(std::move(map));
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

nlohmann::json valueToJson(const Value& value) {
    return toJson<nlohmann::json>(value);
}

nlohmann::json valueToJson(const ValueMap& map) {
    return toJson<nlohmann::json>(map);
}

nlohmann::ordered_json valueToOrderedJson(const Value& value) {
    return toJson<nlohmann::ordered_json>(value);
}

nlohmann::ordered_json valueToOrderedJson(const ValueMap& map) {
    return toJson<nlohmann::ordered_json>(map);
}

std::optional<Value> valueFromJson(const nlohmann::json& json, int maxNesting) {
    return fromJson(json, 0, maxNesting);
}

std::optional<Value> parseJsonValue(std::string_view text, int maxNesting) {
    try {
        const auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (json.is_discarded()) {
            return std::nullopt;
        }
        return valueFromJson(json, maxNesting);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string jsonText(const nlohmann::json& json, int indent) {
    return json.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string jsonText(const nlohmann::ordered_json& json, int indent) {
    return json.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace tovalo
