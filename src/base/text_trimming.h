#pragma once

// Trimming of user-visible text (titles, application names, identifiers).

#include <string_view>

namespace tovalo {

// `text` without leading and trailing Unicode white space and line breaks (UTF-8).
std::string_view trimWhitespaceAndNewlines(std::string_view text);

}  // namespace tovalo
