#include "base/text_trimming.h"

#include <array>

namespace tovalo {

namespace {

// Space separators, tab and line breaks, UTF-8 encoded, longest first where one is a prefix
// of another.
constexpr std::array<std::string_view, 25> kWhitespace = {
    "\u00A0", "\u0085", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005",
    "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F",
    "\u3000", " ",      "\t",     "\n",     "\v",     "\f",     "\r",
};

std::size_t whitespacePrefixLength(std::string_view text) {
    for (const auto ws : kWhitespace) {
        if (text.starts_with(ws)) {
            return ws.size();
        }
    }
    return 0;
}

std::size_t whitespaceSuffixLength(std::string_view text) {
    for (const auto ws : kWhitespace) {
        if (text.ends_with(ws)) {
            return ws.size();
        }
    }
    return 0;
}

}  // namespace

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
    while (const auto n = whitespacePrefixLength(text)) {
        text.remove_prefix(n);
    }
    while (const auto n = whitespaceSuffixLength(text)) {
        text.remove_suffix(n);
    }
    return text;
}

}  // namespace tovalo
