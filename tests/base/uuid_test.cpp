#include "base/uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tovalo {
namespace {

TEST(UuidTest, RandomCarriesVersionFourAndTheStandardVariant) {
    for (int n = 0; n < 256; ++n) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes()[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes()[8] & 0xC0, 0x80);
        const std::string text = uuid.toString();
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
    }
}

TEST(UuidTest, RandomValuesAreUniqueAndNeverNil) {
    std::set<std::string> seen;
    for (int n = 0; n < 4096; ++n) {
        const Uuid uuid = Uuid::random();
        EXPECT_NE(uuid, Uuid());
        EXPECT_TRUE(seen.insert(uuid.toString()).second) << uuid.toString();
    }
}

TEST(UuidTest, CanonicalTextRoundTrips) {
    for (int n = 0; n < 64; ++n) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(Uuid::parse(uuid.toString()), uuid);
    }
    EXPECT_EQ(Uuid().toString(), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(Uuid::parse("00000000-0000-0000-0000-000000000000"), Uuid());
}

TEST(UuidTest, ParseReadsEitherCaseAndWritesUpperCase) {
    const auto parsed = Uuid::parse("e621e1f8-c36c-495a-93fc-0c247A3E6E5F");
    ASSERT_TRUE(parsed.has_value());
    const std::array<std::uint8_t, 16> expected = {0xE6, 0x21, 0xE1, 0xF8, 0xC3, 0x6C, 0x49, 0x5A,
                                                   0x93, 0xFC, 0x0C, 0x24, 0x7A, 0x3E, 0x6E, 0x5F};
    EXPECT_EQ(parsed->bytes(), expected);
    EXPECT_EQ(parsed->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

TEST(UuidTest, ParseRejectsAnythingButTheCanonicalForm) {
    const std::vector<std::string> cases = {
        "",
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5",                     // one digit short
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0",                   // one digit long
        "E621E1F8C36C495A93FC0C247A3E6E5F",                        // no dashes
        "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",                  // braces
        "urn:uuid:E621E1F8-C36C-495A-93FC-0C247A3E6E5F",           // prefix
        " E621E1F8-C36C-495A-93FC-0C247A3E6E5F",                   // leading space
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5F\n",                  // trailing newline
        "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",                    // dash moved left
        "E621E1F8C-36C-495A-93FC-0C247A3E6E5F",                    // dash moved right
        "E621E1F8_C36C_495A_93FC_0C247A3E6E5F",                    // wrong separator
        "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",                    // not hexadecimal
        "E621E1F8-C36C-495A-93FC--C247A3E6E5F",                    // dash in place of a digit
        "E621E1F8-C36C-495A-93FC-0C247A3E6E\xC3\xA9",              // non-ASCII
        std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5\0", 36),  // embedded NUL
    };
    for (const auto& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Uuid::parse(text), std::nullopt);
    }
}

}  // namespace
}  // namespace tovalo
