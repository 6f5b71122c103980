#include "base/base64.h"

namespace tovalo {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16 |
                                    std::uint32_t{bytes[i + 1]} << 8 | std::uint32_t{bytes[i + 2]};
        out += kAlphabet[group >> 18 & 0x3F];
        out += kAlphabet[group >> 12 & 0x3F];
        out += kAlphabet[group >> 6 & 0x3F];
        out += kAlphabet[group & 0x3F];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (rest == 2) {
            group |= std::uint32_t{bytes[i + 1]} << 8;
        }
        out += kAlphabet[group >> 18 & 0x3F];
        out += kAlphabet[group >> 12 & 0x3F];
        out += rest == 2 ? kAlphabet[group >> 6 & 0x3F] : '=';
        out += '=';
    }
    return out;
}

std::string base64Encode(std::string_view bytes) {
    // Reinterpreting char storage as unsigned bytes is allowed for any object.
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    return base64Encode(std::span<const std::uint8_t>(data, bytes.size()));
}

}  // namespace tovalo
