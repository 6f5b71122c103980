#include "base/value.h"

#include <gtest/gtest.h>

#include <limits>

namespace tovalo {
namespace {

TEST(ValueTest, NumbersConvertOnlyWhenExact) {
    EXPECT_EQ(Value(3).asDouble(), 3.0);
    EXPECT_EQ(Value(4.0).asInt(), 4);
    EXPECT_EQ(Value(4.5).asInt(), std::nullopt);
    EXPECT_EQ(Value(1e300).asInt(), std::nullopt);
    EXPECT_EQ(Value(true).asInt(), std::nullopt);
    EXPECT_EQ(Value("7").asInt(), std::nullopt);
}

TEST(ValueTest, IntegerTypesBecomeSixtyFourBitIntegers) {
    EXPECT_EQ(Value(std::size_t{7}).asInt(), 7);
    EXPECT_EQ(Value(std::uint32_t{4000000000u}).asInt(), 4000000000);
    EXPECT_EQ(Value(std::numeric_limits<std::uint64_t>::max()).asInt(),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_TRUE(Value(true).isBool());
}

TEST(ValueTest, StringListRequiresEveryElementToBeAString) {
    EXPECT_EQ(Value::stringList({"a", "b"}).asStringList(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Value(ValueList{Value("a"), Value(1)}).asStringList(), std::nullopt);
    EXPECT_EQ(Value("a").asStringList(), std::nullopt);
}

TEST(ValueTest, DebugDescriptionIsDeterministic) {
    Value v(ValueMap{{"b", Value(ValueList{Value(true), Value("x\"y")})}, {"a", Value(1.5)}});
    EXPECT_EQ(v.debugDescription(), R"({"a": 1.5, "b": [true, "x\"y"]})");
    EXPECT_NE(v.find("a"), nullptr);
    EXPECT_EQ(v.find("zz"), nullptr);
}

}  // namespace
}  // namespace tovalo
