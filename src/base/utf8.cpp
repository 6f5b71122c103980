#include "base/utf8.h"

#include <algorithm>

namespace tovalo {

namespace {

struct Utf8Sequence {
    std::size_t length;  // bytes consumed
    bool valid;          // false: the bytes are one maximal ill-formed subpart
};

// The sequence starting at `i`. An ill-formed one ends before the first byte that could not
// continue it, so a following valid character is never swallowed.
Utf8Sequence nextSequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // bounds of the second byte, which differ for some leads
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= text.size()) {
            return {k, false};
        }
        const unsigned char c = byte(i + k);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
            return {k, false};
        }
    }
    return {length, true};
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = nextSequence(text, i);
        if (!sequence.valid) {
            return false;
        }
        i += sequence.length;
    }
    return true;
}

bool appendSanitizedUtf8(std::string& out, std::string_view text, std::size_t maxBytes,
                         std::string_view cutMark) {
    const std::size_t start = out.size();
    const bool marksCut = !cutMark.empty() && maxBytes >= cutMark.size();
    // Text beyond `room` survives only when the whole text fits.
    const std::size_t room = marksCut ? maxBytes - cutMark.size() : maxBytes;
    std::size_t cut = start;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Sequence sequence = nextSequence(text, i);
        const std::string_view piece =
            sequence.valid ? text.substr(i, sequence.length) : kUtf8ReplacementCharacter;
        if (out.size() - start + piece.size() > maxBytes) {
            out.resize(cut);
            if (marksCut) {
                out.append(cutMark);
            }
            return true;
        }
        out.append(piece);
        i += sequence.length;
        if (out.size() - start <= room) {
            cut = out.size();
        }
    }
    return false;
}

std::string sanitizeUtf8(std::string_view text, std::size_t maxBytes, std::string_view cutMark) {
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    appendSanitizedUtf8(out, text, maxBytes, cutMark);
    return out;
}

}  // namespace tovalo
