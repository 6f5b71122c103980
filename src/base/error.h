#pragma once

// An error as components hand it on: a domain naming where it comes from, an integer code
// within that domain and a human-readable description. Errors are values; they never travel
// as exceptions between components.

#include <cstdint>
#include <string>

namespace tovalo {

struct Error {
    std::string domain;
    std::int64_t code = 0;
    std::string description;

    friend bool operator==(const Error&, const Error&) = default;
};

}  // namespace tovalo
