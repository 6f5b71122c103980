#pragma once

// Port to the running operating system's version, which selects between look variants (for
// example the light palette). Built by the composition root; safe to call from any thread.

#include <compare>

namespace tovalo {

struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;

    // Compares major, then minor, then patch.
    friend constexpr auto operator<=>(const OperatingSystemVersion&,
                                      const OperatingSystemVersion&) = default;
};

class OperatingSystemInfo {
  public:
    virtual ~OperatingSystemInfo() = default;

    virtual OperatingSystemVersion version() const = 0;
};

}  // namespace tovalo
