#include "platform/linux/error_report_sanitizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tovalo {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";
const std::string kEllipsis = "\xE2\x80\xA6";

struct Utf8Case {
    const char* name;
    std::string input;
    std::size_t maxBytes;
    std::string expected;
};

TEST(ErrorReportSanitizerTest, MakesTextValidUtf8WithinItsLimit) {
    const Utf8Case cases[] = {
        {"ascii passes", "hello", 100, "hello"},
        {"multi-byte passes", "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80", 100,
         "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"stray continuation byte", "a\x80z", 100, "a" + kFffd + "z"},
        {"byte that never starts a character", "a\xFFz", 100, "a" + kFffd + "z"},
        {"overlong encoding of '/'", "\xC0\xAF", 100, kFffd + kFffd},
        {"surrogate half", "\xED\xA0\x80", 100, kFffd + kFffd + kFffd},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 100, kFffd + kFffd + kFffd + kFffd},
        {"sequence cut short counts once", "\xE2\x82z", 100, kFffd + "z"},
        {"sequence cut by the end of text", "ok\xF0\x9F\x98", 100, "ok" + kFffd},
        {"exactly at the limit is not cut", "abcdefgh", 8, "abcdefgh"},
        {"one byte over is cut with an ellipsis", "abcdefghi", 8, "abcde" + kEllipsis},
        {"never splits a character", "ab\xE2\x82\xAC\xE2\x82\xAC", 7, "ab" + kEllipsis},
        {"limit too small for an ellipsis", "\xC3\xBC\xC3\xBC", 2, "\xC3\xBC"},
        {"nul bytes are kept", std::string("a\0b", 3), 100, std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toBoundedUtf8(c.input, c.maxBytes), c.expected) << c.name;
    }
}

TEST(ErrorReportSanitizerTest, NonFiniteNumbersBecomeNullAndOthersStay) {
    ErrorReportSanitizer sanitizer;
    const ValueMap input = {
        {"nan", std::numeric_limits<double>::quiet_NaN()},
        {"inf", std::numeric_limits<double>::infinity()},
        {"minus_inf", -std::numeric_limits<double>::infinity()},
        {"list", ValueList{1.5, std::nan(""), "x"}},
        {"int", 42},
        {"flag", true},
        {"none", Value()},
    };
    const ValueMap expected = {
        {"nan", Value()},
        {"inf", Value()},
        {"minus_inf", Value()},
        {"list", ValueList{1.5, Value(), "x"}},
        {"int", 42},
        {"flag", true},
        {"none", Value()},
    };
    EXPECT_EQ(sanitizer.map(input), expected);
    EXPECT_FALSE(sanitizer.truncated());
}

TEST(ErrorReportSanitizerTest, BoundsDepthItemsAndTotalSize) {
    ErrorReportSanitizer::Limits limits;
    limits.maxDepth = 2;
    limits.maxItems = 3;
    limits.maxStringBytes = 10;
    limits.maxTotalBytes = 1000;

    {
        ErrorReportSanitizer sanitizer(limits);
        const Value deep = ValueMap{{"a", ValueMap{{"b", ValueMap{{"c", 1}}}}}};
        EXPECT_EQ(sanitizer.value(deep), Value(ValueMap{{"a", ValueMap{{"b", Value()}}}}));
        EXPECT_TRUE(sanitizer.truncated());
    }
    {
        ErrorReportSanitizer sanitizer(limits);
        EXPECT_EQ(sanitizer.value(ValueList{1, 2, 3, 4, 5}), Value(ValueList{1, 2, 3}));
        EXPECT_EQ(sanitizer.text(std::string(50, 'x')), std::string(7, 'x') + kEllipsis);
    }
    {
        // Many values each within their own limit still stop at the report's total.
        limits.maxItems = 1000;
        limits.maxDepth = 8;
        ErrorReportSanitizer sanitizer(limits);
        ValueList many(500, Value(std::string(10, 'y')));
        const Value result = sanitizer.value(many);
        ASSERT_TRUE(result.isList());
        EXPECT_LT(result.asList()->size(), 100u);
        EXPECT_TRUE(sanitizer.truncated());
    }
}

TEST(ErrorReportSanitizerTest, CleansMapKeysAndKeepsTheFirstOfKeysThatCollide) {
    ErrorReportSanitizer sanitizer;
    const ValueMap input = {{"k\xFF", 1}, {"k\xFE", 2}, {"ok", 3}};
    const ValueMap result = sanitizer.map(input);
    EXPECT_EQ(result, (ValueMap{{"k" + kFffd, 2}, {"ok", 3}}));
}

}  // namespace
}  // namespace tovalo
