#include "platform/linux/openssl_hasher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tovalo {
namespace {

std::string hex(const std::array<std::uint8_t, 32>& digest) {
    std::string text;
    for (const auto byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

TEST(OpenSslHasherTest, ComputesThePublishedSha256Vectors) {
    struct Case {
        const char* label;
        std::string input;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"a million a", std::string(1'000'000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"embedded NUL", std::string("a\0b", 3),
         "59b271ae1bbcb1d31d41929817f4b16fb439eb4f31520b5ad1d5ce98920a7138"},
    };
    const OpenSslHasher hasher;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(hex(hasher.sha256(c.input)), c.expected);
    }
}

}  // namespace
}  // namespace tovalo
