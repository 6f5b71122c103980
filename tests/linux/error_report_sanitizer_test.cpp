#include "platform/linux/error_report_sanitizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tovalo {
namespace {

// Text rules themselves are covered by the UTF-8 tests; these check what the sanitiser adds.
const std::string kFffd = "\xEF\xBF\xBD";
const std::string kEllipsis = "\xE2\x80\xA6";

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
