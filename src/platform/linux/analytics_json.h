#pragma once

// The JSON text form of analytics records: what the journal stores and what goes over the
// wire. Serialising is deterministic (object keys in sorted order, compact), so equal records
// give equal text. Stateless; never throws.

#include <optional>
#include <string>
#include <string_view>

#include "base/value.h"

namespace tovalo {

class AnalyticsJson {
  public:
    // Compact JSON. Non-finite numbers become null and invalid UTF-8 bytes U+FFFD, so the
    // result is always valid JSON even for values that skipped the sanitiser.
    static std::string serialize(const Value& value);

    // nullopt when `text` is not JSON or holds what a Value cannot (integers beyond 64 bits,
    // nesting deeper than 32 levels).
    static std::optional<Value> parse(std::string_view text);
};

}  // namespace tovalo
