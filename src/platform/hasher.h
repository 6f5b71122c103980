#pragma once

// Port: cryptographic hashing.

#include <array>
#include <cstdint>
#include <string_view>

namespace tovalo {

class Hasher {
public:
    virtual ~Hasher() = default;
    // The SHA-256 digest of the bytes of `data`.
    virtual std::array<std::uint8_t, 32> sha256(std::string_view data) const = 0;
};

}  // namespace tovalo
