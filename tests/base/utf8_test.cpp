#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace tovalo {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";
const std::string kEllipsis = "\xE2\x80\xA6";

struct SanitizeCase {
    const char* name;
    std::string input;
    std::size_t maxBytes;
    std::string expected;
};

TEST(Utf8Test, ReplacesIllFormedBytesAndCutsOnACharacterBoundary) {
    const SanitizeCase cases[] = {
        {"ascii is kept", "Overlay - Close Tapped", 255, "Overlay - Close Tapped"},
        {"multi-byte characters are kept",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5 \xF0\x9F\x98\x80",
         255,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5 \xF0\x9F\x98\x80"},
        {"stray continuation byte", "a\x80z", 255, "a" + kFffd + "z"},
        {"sequence cut short is one replacement", "a\xE6\x97", 255, "a" + kFffd},
        {"a bad byte does not swallow the next character",
         "\xE6"
         "A",
         255, kFffd + "A"},
        {"overlong form", "\xC0\xAF", 255, kFffd + kFffd},
        {"surrogate", "\xED\xA0\x80", 255, kFffd + kFffd + kFffd},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 255, kFffd + kFffd + kFffd + kFffd},
        {"byte that is never UTF-8", "\xFF", 255, kFffd},
        {"cut on a character boundary", "ab\xE6\x97\xA5", 4, "ab"},
        {"replacement that does not fit is cut too", "ab\xFF", 4, "ab"},
        {"zero bound", "abc", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sanitizeUtf8(c.input, c.maxBytes), c.expected) << c.name;
    }
}

TEST(Utf8Test, ACutMarkEndsTextThatWasCut) {
    const SanitizeCase cases[] = {
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
        EXPECT_EQ(sanitizeUtf8(c.input, c.maxBytes, kEllipsis), c.expected) << c.name;
    }
}

TEST(Utf8Test, AppendingBoundsOnlyTheNewTextAndSaysWhetherItWasCut) {
    std::string out = "prefix:";
    EXPECT_FALSE(appendSanitizedUtf8(out, "abc\xFF", 6, kEllipsis));
    EXPECT_EQ(out, "prefix:abc" + kFffd);

    out = "prefix:";
    EXPECT_TRUE(appendSanitizedUtf8(out, "abcdefg", 6, kEllipsis));
    EXPECT_EQ(out, "prefix:abc" + kEllipsis);

    out = "prefix:";
    EXPECT_TRUE(appendSanitizedUtf8(out, "abcdefg", 6));
    EXPECT_EQ(out, "prefix:abcdef");
}

TEST(Utf8Test, ValidityMatchesWhatSanitisingWouldChange) {
    const struct {
        const char* name;
        std::string text;
        bool valid;
    } cases[] = {
        {"empty", "", true},
        {"ascii with nul", std::string("a\0b", 3), true},
        {"every sequence length", "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"stray continuation byte", "a\x80", false},
        {"overlong form", "\xC0\xAF", false},
        {"overlong three-byte form", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false},
        {"sequence cut by the end of text", "ok\xF0\x9F\x98", false},
        {"byte that is never UTF-8", "\xFE", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isValidUtf8(c.text), c.valid) << c.name;
        EXPECT_EQ(sanitizeUtf8(c.text) == c.text, c.valid) << c.name;
        EXPECT_TRUE(isValidUtf8(sanitizeUtf8(c.text))) << c.name;
    }
}

}  // namespace
}  // namespace tovalo
