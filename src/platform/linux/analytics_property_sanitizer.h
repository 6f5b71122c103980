#pragma once

// Makes analytics names and property values safe to queue and send, whatever the caller
// passed: text becomes valid UTF-8 (each bad sequence turns into U+FFFD) cut to a bounded
// length on a character boundary; lists, maps and nesting are bounded; NaN and infinite
// numbers are dropped from maps and become null inside lists; and a whole property map stays
// under a size budget, so hostile input still yields small, valid JSON. Stateless apart from
// its limits; the analytics client uses one on its queue.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/value.h"

namespace tovalo {

struct AnalyticsPropertyLimits {
    std::size_t maxNameBytes = 255;  // event names, property keys, identifiers
    std::size_t maxStringBytes = 1024;
    std::size_t maxCollectionSize = 255;  // entries of one map, elements of one list
    int maxNesting = 3;                   // lists and maps inside a property value
    // Approximate JSON size of one property map; properties past it (in key order) are dropped.
    std::size_t maxMapBytes = 32 * 1024;
};

class AnalyticsPropertySanitizer {
  public:
    explicit AnalyticsPropertySanitizer(AnalyticsPropertyLimits limits = {}) : limits_(limits) {}

    // An event name, key or identifier as valid UTF-8 (see sanitizeUtf8) of at most
    // `maxNameBytes` bytes; may come back empty.
    std::string sanitizeName(std::string_view name) const;

    // The properties that can be sent, bounded as described above. Keys that are empty after
    // sanitising are dropped; when two keys sanitise to the same text the first one wins.
    ValueMap sanitizeProperties(const ValueMap& properties) const;

    const AnalyticsPropertyLimits& limits() const { return limits_; }

  private:
    struct Budget;
    // False when the value cannot be sent or the budget ran out (then `budget` says so).
    bool sanitizeValue(const Value& value, int nesting, Budget& budget, Value& out) const;
    bool sanitizeMap(const ValueMap& map, int nesting, Budget& budget, ValueMap& out) const;

    AnalyticsPropertyLimits limits_;
};

}  // namespace tovalo
