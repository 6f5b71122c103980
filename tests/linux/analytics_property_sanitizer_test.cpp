#include "platform/linux/analytics_property_sanitizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "base/utf8.h"
#include "platform/linux/analytics_json.h"

namespace tovalo {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(AnalyticsPropertySanitizerTest, KeepsWhatCanBeSentAndDropsWhatCannot) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const AnalyticsPropertySanitizer sanitizer;
    const ValueMap input{
        {"window_id", 42},
        {"opacity", 0.75},
        {"enabled", true},
        {"mode", "hover"},
        {"nothing", Value()},
        {"not_a_number", nan},
        {"infinite", -inf},
        {"", "empty key"},
        {"list", ValueList{1, nan, "x"}},
        {"nested", ValueMap{{"ok", 1}, {"bad", inf}}},
    };
    const ValueMap expected{
        {"window_id", 42},
        {"opacity", 0.75},
        {"enabled", true},
        {"mode", "hover"},
        {"nothing", Value()},
        {"list", ValueList{1, Value(), "x"}},
        {"nested", ValueMap{{"ok", 1}}},
    };
    EXPECT_EQ(sanitizer.sanitizeProperties(input), expected);
}

TEST(AnalyticsPropertySanitizerTest, BoundsStringsCollectionsAndNesting) {
    const AnalyticsPropertySanitizer sanitizer;
    const auto& limits = sanitizer.limits();

    ValueList longList(1000, Value(1));
    Value deep = Value("bottom");
    for (int i = 0; i < 10; ++i) {
        deep = Value(ValueList{deep});
    }
    const ValueMap result = sanitizer.sanitizeProperties({
        {"huge", std::string(100000, 'x')},
        {"list", longList},
        {"deep", deep},
        {std::string(1000, 'k'), 1},
    });

    ASSERT_TRUE(result.contains("huge"));
    EXPECT_EQ(result.at("huge").asString()->size(), limits.maxStringBytes);
    EXPECT_EQ(result.at("list").asList()->size(), limits.maxCollectionSize);
    // Three levels of lists are sent; the fourth cannot be and becomes null.
    EXPECT_EQ(result.at("deep"), Value(ValueList{ValueList{ValueList{Value()}}}));
    EXPECT_TRUE(result.contains(std::string(limits.maxNameBytes, 'k')));
}

TEST(AnalyticsPropertySanitizerTest, CutsMultiByteTextOnACharacterBoundary) {
    const AnalyticsPropertySanitizer sanitizer;
    std::string text = "a";
    for (int i = 0; i < 1000; ++i) {
        text += "\xC3\xA9";  // two bytes each, so the limit falls inside one
    }
    const ValueMap result = sanitizer.sanitizeProperties({{"text", text}});
    const std::string kept = *result.at("text").asString();
    EXPECT_EQ(kept.size(), sanitizer.limits().maxStringBytes - 1);
    EXPECT_TRUE(isValidUtf8(kept));
}

TEST(AnalyticsPropertySanitizerTest, ManyLargePropertiesStayWithinTheMapBudget) {
    const AnalyticsPropertySanitizer sanitizer;
    ValueMap input;
    for (int i = 0; i < 1000; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "p%04d", i);
        input.emplace(key, std::string(900, 'v'));
    }
    const ValueMap result = sanitizer.sanitizeProperties(input);
    const std::string json = AnalyticsJson::serialize(Value(result));

    EXPECT_LE(json.size(), sanitizer.limits().maxMapBytes);
    EXPECT_GT(result.size(), 10U);
    // The properties kept are the first ones in key order.
    std::size_t index = 0;
    for (const auto& [key, value] : result) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "p%04zu", index++);
        EXPECT_EQ(key, expected);
    }
}

TEST(AnalyticsPropertySanitizerTest, HostileInputSerialisesToValidBoundedJson) {
    const AnalyticsPropertySanitizer sanitizer;
    ValueMap hostile{
        {"\xFF\xFE key", "\xC0\x80 value \xED\xBF\xBF"},
        {"control", std::string("\x01\x02\"\\\n", 5)},
        {"big", std::string(10 * 1024 * 1024, '\x80')},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"tiny", std::numeric_limits<double>::denorm_min()},
    };
    const ValueMap result = sanitizer.sanitizeProperties(hostile);
    const std::string json = AnalyticsJson::serialize(Value(result));

    const auto parsed = AnalyticsJson::parse(json);
    ASSERT_TRUE(parsed.has_value()) << json.substr(0, 200);
    EXPECT_EQ(*parsed, Value(result));
    EXPECT_LE(json.size(), sanitizer.limits().maxMapBytes);
    EXPECT_TRUE(result.contains(kFffd + kFffd + " key"));
}

}  // namespace
}  // namespace tovalo
