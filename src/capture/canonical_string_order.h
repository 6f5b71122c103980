#pragma once

// The order the window lists sort names and titles in: Unicode code-point order after canonical
// composition (NFC), case-sensitive and not localised. Canonically equivalent spellings ("é" as
// one code point or as "e" plus a combining acute) compare equal; "Z" comes before "a".
// Ill-formed UTF-8 is read as U+FFFD per maximal ill-formed subpart. Stateless; any thread.

#include <string>
#include <string_view>

namespace tovalo {

// The text's code points in canonical composition form (NFC).
std::u32string canonicalComposition(std::string_view utf8);

// Negative, zero or positive as `a` orders before, with or after `b`.
int compareCanonically(std::string_view a, std::string_view b);

inline bool canonicallyLess(std::string_view a, std::string_view b) {
    return compareCanonically(a, b) < 0;
}

}  // namespace tovalo
