#include "platform/posix/value_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace tovalo {
namespace {

using Json = nlohmann::json;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(ValueJsonTest, EveryValueTypeSurvivesARoundTripWithItsType) {
    const std::pair<const char*, Value> cases[] = {
        {"null", Value()},
        {"true", Value(true)},
        {"false", Value(false)},
        {"zero", Value(0)},
        {"int64 max", Value(std::numeric_limits<std::int64_t>::max())},
        {"int64 min", Value(std::numeric_limits<std::int64_t>::min())},
        // An integral double must not come back as an integer.
        {"integral double", Value(1.0)},
        {"negative zero", Value(-0.0)},
        {"tenth", Value(0.1)},
        {"huge double", Value(1e300)},
        {"denormal double", Value(std::numeric_limits<double>::denorm_min())},
        {"empty string", Value("")},
        {"escapes and non-ASCII", Value("Gr\xC3\xBC\xC3\x9F"
                                        "e \"q\"\n\t\\ \x01")},
        {"nul byte", Value(std::string("a\0b", 3))},
        {"empty list", Value(ValueList{})},
        {"empty map", Value(ValueMap{})},
        {"mixed", Value(ValueMap{{"list", ValueList{1, 2.5, "x", Value(), false}},
                                 {"map", ValueMap{{"inner", ValueMap{{"n", 7}}}}}})},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name);
        for (const int indent : {-1, 2}) {
            const auto parsed = parseJsonValue(jsonText(valueToJson(value), indent), 8);
            ASSERT_TRUE(parsed.has_value());
            // Value equality compares the type as well: 1.0 never equals 1.
            EXPECT_EQ(*parsed, value);
        }
    }
}

TEST(ValueJsonTest, TextIsCompactOrIndentedAndMapsKeepKeyOrder) {
    const ValueMap map{{"b", ValueList{1, true}}, {"a", "x"}};
    EXPECT_EQ(jsonText(valueToJson(map)), R"({"a":"x","b":[1,true]})");
    EXPECT_EQ(jsonText(valueToJson(map), 2),
              "{\n  \"a\": \"x\",\n  \"b\": [\n    1,\n    true\n  ]\n}");
    // Inside a document whose own members keep their order, a map still lists its keys sorted.
    nlohmann::ordered_json document = nlohmann::ordered_json::object();
    document["z"] = 1;
    document["map"] = valueToOrderedJson(map);
    document["list"] = valueToOrderedJson(Value(ValueList{Value(map)}));
    EXPECT_EQ(jsonText(document),
              R"({"z":1,"map":{"a":"x","b":[1,true]},"list":[{"a":"x","b":[1,true]}]})");
}

TEST(ValueJsonTest, NonFiniteNumbersAreWrittenAsNull) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Value value = ValueMap{{"nan", nan}, {"list", ValueList{inf, 1.5, -inf}}};

    const Json json = valueToJson(value);
    EXPECT_TRUE(json["nan"].is_null());
    EXPECT_TRUE(json["list"][0].is_null());
    EXPECT_TRUE(json["list"][2].is_null());
    EXPECT_EQ(jsonText(json), R"({"list":[null,1.5,null],"nan":null})");
    EXPECT_EQ(jsonText(valueToOrderedJson(value)), jsonText(json));
}

TEST(ValueJsonTest, InvalidUtf8InStringsStillGivesValidJson) {
    const Value value = ValueMap{{"k\xFF", "a\xC3\x28z"}};
    const std::string text = jsonText(valueToJson(value));
    const auto parsed = parseJsonValue(text, 8);
    ASSERT_TRUE(parsed.has_value()) << text;
    const ValueMap* map = parsed->asMap();
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(map->size(), 1u);
    EXPECT_NE(map->begin()->first.find(kFffd), std::string::npos);
    EXPECT_NE(map->begin()->second.asString()->find(kFffd), std::string::npos);
}

TEST(ValueJsonTest, RefusesWhatAValueCannotHold) {
    const struct {
        const char* name;
        const char* text;
        int maxNesting;
        std::optional<Value> expected;
    } cases[] = {
        {"not JSON", "{\"a\": 1", 8, std::nullopt},
        {"trailing garbage", "[1] x", 8, std::nullopt},
        {"empty text", "", 8, std::nullopt},
        {"integer above int64", "18446744073709551615", 8, std::nullopt},
        {"integer above int64 deep inside", R"({"a": [1, 9223372036854775808]})", 8, std::nullopt},
        {"int64 max", "9223372036854775807", 8, Value(std::numeric_limits<std::int64_t>::max())},
        {"int64 min", "-9223372036854775808", 8, Value(std::numeric_limits<std::int64_t>::min())},
        {"scalar needs no nesting", "\"x\"", 0, Value("x")},
        {"a list is one level", "[]", 0, std::nullopt},
        {"nesting at the limit", R"([{"a": [1]}])", 3,
         Value(ValueList{ValueMap{{"a", ValueList{1}}}})},
        {"nesting past the limit", R"([{"a": [[1]]}])", 3, std::nullopt},
        {"last of repeated keys", R"({"a": 1, "a": 2})", 8, Value(ValueMap{{"a", 2}})},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseJsonValue(c.text, c.maxNesting), c.expected) << c.name;
    }
}

TEST(ValueJsonTest, RefusesBinaryDataAndCountsNestingFromTheValueGiven) {
    EXPECT_EQ(valueFromJson(Json::binary({1, 2, 3}), 8), std::nullopt);
    EXPECT_EQ(valueFromJson(Json{{"bytes", Json::binary({1})}}, 8), std::nullopt);

    // A caller converting the members of a document itself leaves one level for the document.
    const Json document = Json::parse(R"({"entry": [[1]]})");
    EXPECT_EQ(valueFromJson(document["entry"], 2), Value(ValueList{ValueList{1}}));
    EXPECT_EQ(valueFromJson(document, 2), std::nullopt);
}

TEST(ValueJsonTest, DeepInputIsRefusedWithoutExhaustingTheStack) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(parseJsonValue(deep, 64), std::nullopt);
}

}  // namespace
}  // namespace tovalo
