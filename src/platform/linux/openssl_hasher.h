#pragma once

// SHA-256 through OpenSSL's libcrypto (the EVP digest interface). Stateless; safe to use from
// any thread.

#include "platform/hasher.h"

namespace tovalo {

class OpenSslHasher final : public Hasher {
  public:
    // Throws std::bad_alloc when libcrypto cannot compute the digest, which only happens when it
    // runs out of memory.
    std::array<std::uint8_t, 32> sha256(std::string_view data) const override;
};

}  // namespace tovalo
