#pragma once

// Makes caller-supplied report data safe to send: every string becomes valid UTF-8 (bad bytes
// become U+FFFD) and is cut to a length limit, non-finite doubles become null, and nesting,
// container sizes and the total amount of text are bounded so that one hostile value cannot
// make a report huge. One sanitiser serves one report: its byte budget is shared by every
// value passed through it. Used by the error reporting client on its background queue.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/value.h"

namespace tovalo {

class ErrorReportSanitizer {
  public:
    struct Limits {
        std::size_t maxStringBytes = 8 * 1024;
        std::size_t maxKeyBytes = 256;
        // Containers deeper than this become null.
        std::size_t maxDepth = 8;
        // Entries of one list or map beyond this are dropped.
        std::size_t maxItems = 256;
        // Text and values of one report together; what would exceed it is dropped.
        std::size_t maxTotalBytes = 256 * 1024;
    };

    ErrorReportSanitizer() : ErrorReportSanitizer(Limits{}) {}
    explicit ErrorReportSanitizer(Limits limits);

    // A string value as valid UTF-8 (see sanitizeUtf8) charged to the budget and cut further when
    // the budget is nearly spent; a cut string ends in "…" (U+2026), never splitting a character.
    std::string text(std::string_view value) { return text(value, limits_.maxStringBytes); }
    std::string text(std::string_view value, std::size_t maxBytes);
    Value value(const Value& value) { return sanitize(value, 0); }
    ValueMap map(const ValueMap& map) { return sanitizeMap(map, 0); }

    // True once anything was cut or dropped.
    bool truncated() const { return truncated_; }
    const Limits& limits() const { return limits_; }

  private:
    Value sanitize(const Value& value, std::size_t depth);
    ValueMap sanitizeMap(const ValueMap& map, std::size_t depth);
    ValueList sanitizeList(const ValueList& list, std::size_t depth);
    // Takes `bytes` from the budget; false (and nothing taken) when it is not there.
    bool charge(std::size_t bytes);

    Limits limits_;
    std::size_t remaining_;
    bool truncated_ = false;
};

}  // namespace tovalo
