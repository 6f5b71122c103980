#include "base/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tovalo {
namespace {

TEST(Base64Test, EncodesTheStandardTestVectors) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\0\0\0", 3), "AAAA"},  // NUL bytes are data, not an end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(base64Encode(c.input), c.expected);
    }
}

TEST(Base64Test, UsesPlusAndSlashForTheLastTwoDigits) {
    const std::vector<std::uint8_t> bytes = {0xFB, 0xEF, 0xFF, 0xFF};
    EXPECT_EQ(base64Encode(bytes), "++///w==");
}

}  // namespace
}  // namespace tovalo
