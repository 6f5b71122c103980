#include "capture/canonical_string_order.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "base/utf8.h"
#include "capture/unicode_canonical_tables.h"

namespace tovalo {

namespace {

// Hangul syllables decompose and compose by arithmetic rather than by table.
constexpr char32_t kHangulSBase = 0xAC00;
constexpr char32_t kHangulLBase = 0x1100;
constexpr char32_t kHangulVBase = 0x1161;
constexpr char32_t kHangulTBase = 0x11A7;
constexpr char32_t kHangulLCount = 19;
constexpr char32_t kHangulVCount = 21;
constexpr char32_t kHangulTCount = 28;
constexpr char32_t kHangulNCount = kHangulVCount * kHangulTCount;
constexpr char32_t kHangulSCount = kHangulLCount * kHangulNCount;

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Decodes text that is known to be valid UTF-8.
std::u32string decodeValid(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        char32_t cp = lead;
        if (lead >= 0xF0) {
            length = 4;
            cp = lead & 0x07u;
        } else if (lead >= 0xE0) {
            length = 3;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xC0) {
            length = 2;
            cp = lead & 0x1Fu;
        }
        for (std::size_t k = 1; k < length; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        }
        out.push_back(cp);
        i += length;
    }
    return out;
}

std::uint8_t combiningClass(char32_t cp) {
    const auto& table = unicode_tables::kCombiningClasses;
    auto it = std::upper_bound(table.begin(), table.end(), cp,
                               [](char32_t c, const auto& range) { return c < range.first; });
    if (it == table.begin()) {
        return 0;
    }
    --it;
    return cp <= it->last ? it->combiningClass : 0;
}

void decompose(char32_t cp, std::u32string& out) {
    if (cp >= kHangulSBase && cp < kHangulSBase + kHangulSCount) {
        const char32_t index = cp - kHangulSBase;
        out.push_back(kHangulLBase + index / kHangulNCount);
        out.push_back(kHangulVBase + (index % kHangulNCount) / kHangulTCount);
        if (index % kHangulTCount != 0) {
            out.push_back(kHangulTBase + index % kHangulTCount);
        }
        return;
    }
    const auto& table = unicode_tables::kDecompositions;
    const auto it = std::lower_bound(table.begin(), table.end(), cp,
                                     [](const auto& d, char32_t c) { return d.codePoint < c; });
    if (it == table.end() || it->codePoint != cp) {
        out.push_back(cp);
        return;
    }
    decompose(it->first, out);
    if (it->second != 0) {
        decompose(it->second, out);
    }
}

std::optional<char32_t> composePair(char32_t first, char32_t second) {
    if (first >= kHangulLBase && first < kHangulLBase + kHangulLCount && second >= kHangulVBase &&
        second < kHangulVBase + kHangulVCount) {
        return kHangulSBase +
               ((first - kHangulLBase) * kHangulVCount + (second - kHangulVBase)) * kHangulTCount;
    }
    if (first >= kHangulSBase && first < kHangulSBase + kHangulSCount &&
        (first - kHangulSBase) % kHangulTCount == 0 && second > kHangulTBase &&
        second < kHangulTBase + kHangulTCount) {
        return first + (second - kHangulTBase);
    }
    const auto& table = unicode_tables::kCompositions;
    const auto it =
        std::lower_bound(table.begin(), table.end(), std::pair{first, second},
                         [](const auto& c, const std::pair<char32_t, char32_t>& key) {
                             return std::pair<char32_t, char32_t>{c.first, c.second} < key;
                         });
    if (it == table.end() || it->first != first || it->second != second) {
        return std::nullopt;
    }
    return it->composite;
}

// Full canonical decomposition followed by the canonical ordering of combining marks.
std::u32string canonicalDecomposition(const std::u32string& text) {
    std::u32string out;
    out.reserve(text.size());
    for (const char32_t cp : text) {
        decompose(cp, out);
    }
    // Stable sort of every run of non-starters by combining class.
    for (std::size_t i = 0; i < out.size();) {
        if (combiningClass(out[i]) == 0) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < out.size() && combiningClass(out[end]) != 0) {
            ++end;
        }
        std::stable_sort(
            out.begin() + static_cast<std::ptrdiff_t>(i),
            out.begin() + static_cast<std::ptrdiff_t>(end),
            [](char32_t a, char32_t b) { return combiningClass(a) < combiningClass(b); });
        i = end;
    }
    return out;
}

// Canonical composition of decomposed, canonically ordered text.
std::u32string compose(const std::u32string& text) {
    std::u32string out;
    out.reserve(text.size());
    std::optional<std::size_t> starter;
    std::uint8_t lastClass = 0;
    for (const char32_t cp : text) {
        const std::uint8_t cls = combiningClass(cp);
        if (starter) {
            // Blocked when a mark in between has the same or a higher class, or, for a
            // starter, when anything at all lies in between.
            const bool adjacent = *starter + 1 == out.size();
            const bool blocked = !adjacent && (lastClass == 0 || lastClass >= cls);
            if (!blocked) {
                if (const auto composite = composePair(out[*starter], cp)) {
                    out[*starter] = *composite;
                    continue;
                }
            }
        }
        if (cls == 0) {
            starter = out.size();
            lastClass = 0;
        } else {
            lastClass = cls;
        }
        out.push_back(cp);
    }
    return out;
}

}  // namespace

std::u32string canonicalComposition(std::string_view utf8) {
    const std::u32string codePoints =
        isValidUtf8(utf8) ? decodeValid(utf8) : decodeValid(sanitizeUtf8(utf8));
    return compose(canonicalDecomposition(codePoints));
}

int compareCanonically(std::string_view a, std::string_view b) {
    // ASCII is its own canonical form, and byte order is code-point order.
    if (isAscii(a) && isAscii(b)) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    const std::u32string left = canonicalComposition(a);
    const std::u32string right = canonicalComposition(b);
    const int c = left.compare(right);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace tovalo
