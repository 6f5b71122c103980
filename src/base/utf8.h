#pragma once

// UTF-8 checks and repair for text that crosses into JSON or other places that demand valid
// UTF-8 (analytics properties, error reports). Ill-formed input is repaired the Unicode way:
// each maximal ill-formed subpart (overlong forms, surrogates, code points past U+10FFFF,
// stray or missing continuation bytes) becomes one U+FFFD, and a following valid character is
// never swallowed. Plain functions; stateless and safe from any thread.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace tovalo {

inline constexpr std::string_view kUtf8ReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

bool isValidUtf8(std::string_view text);

// Appends `text` to `out` as valid UTF-8 of at most `maxBytes` bytes and returns true when
// the text had to be cut. A cut never splits a character; it leaves room for `cutMark`, which
// then ends the text, unless `maxBytes` is too small to hold the mark (then the text is only
// cut). `cutMark` must itself be valid UTF-8.
bool appendSanitizedUtf8(std::string& out, std::string_view text,
                         std::size_t maxBytes = std::numeric_limits<std::size_t>::max(),
                         std::string_view cutMark = {});

// `text` made valid and bounded as appendSanitizedUtf8() describes.
std::string sanitizeUtf8(std::string_view text,
                         std::size_t maxBytes = std::numeric_limits<std::size_t>::max(),
                         std::string_view cutMark = {});

}  // namespace tovalo
