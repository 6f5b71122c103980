#pragma once

// Standard Base64 encoding (the RFC 4648 alphabet with "+", "/" and "=" padding), for turning
// digests and other binary values into text.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tovalo {

std::string base64Encode(std::span<const std::uint8_t> bytes);
// The bytes of `bytes` as they are stored (UTF-8 for text).
std::string base64Encode(std::string_view bytes);

}  // namespace tovalo
