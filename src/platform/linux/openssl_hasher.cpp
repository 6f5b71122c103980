#include "platform/linux/openssl_hasher.h"

#include <openssl/evp.h>

#include <new>

namespace tovalo {

std::array<std::uint8_t, 32> OpenSslHasher::sha256(std::string_view data) const {
    std::array<std::uint8_t, 32> digest{};
    unsigned int length = 0;
    const int ok =
        EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr);
    if (ok != 1 || length != digest.size()) {
        throw std::bad_alloc();
    }
    return digest;
}

}  // namespace tovalo
