#pragma once

// Conversion between Value and JSON for everything the program keeps or sends as JSON: the
// preferences file, analytics records and error reports. Types survive a round trip: an
// integer stays an integer and 1.0 stays a floating-point number. Plain functions; stateless,
// and nothing here throws but std::bad_alloc.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "base/value.h"

namespace tovalo {

// JSON has no NaN or infinity: non-finite doubles are written as null.
nlohmann::json valueToJson(const Value& value);
nlohmann::json valueToJson(const ValueMap& map);
// The same, for documents whose own members keep the order in which they were added.
nlohmann::ordered_json valueToOrderedJson(const Value& value);
nlohmann::ordered_json valueToOrderedJson(const ValueMap& map);

// nullopt when `json` holds what a Value cannot: binary data, integers outside the signed
// 64-bit range, or lists and maps nested more than `maxNesting` levels deep (the outermost
// counts as one). Callers choose the limit by how deep their data can honestly be; it also
// bounds the recursion.
std::optional<Value> valueFromJson(const nlohmann::json& json, int maxNesting);

// `text` parsed and converted as valueFromJson() does; nullopt when it is not JSON.
std::optional<Value> parseJsonValue(std::string_view text, int maxNesting);

// JSON text, compact when `indent` is negative. Invalid UTF-8 in strings becomes U+FFFD, so
// the text is always valid JSON.
std::string jsonText(const nlohmann::json& json, int indent = -1);
std::string jsonText(const nlohmann::ordered_json& json, int indent = -1);

}  // namespace tovalo
