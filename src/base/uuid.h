#pragma once

// A random (version 4) UUID, as used for refresh triggers and made-up device identifiers.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovalo {

class Uuid {
  public:
    // The nil UUID (all zero).
    Uuid() = default;
    static Uuid random();
    // Parses the canonical 8-4-4-4-12 hexadecimal form, either case; nullopt otherwise.
    static std::optional<Uuid> parse(std::string_view text);

    // Upper-case canonical form, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string toString() const;
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const Uuid&, const Uuid&) = default;

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace tovalo
