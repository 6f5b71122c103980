#pragma once

// The running kernel's version (uname release "6.1.0-18-amd64" → 6.1.0) as the operating-system
// version. Only its comparison with fixed thresholds is used (the light palette), and every Linux
// kernel sorts below them, so the light palette of the older desktop style applies.

#include <string_view>

#include "platform/operating_system_info.h"

namespace tovalo {

class LinuxOperatingSystemInfo final : public OperatingSystemInfo {
  public:
    LinuxOperatingSystemInfo();
    OperatingSystemVersion version() const override { return version_; }

    // "6.1.0-18-amd64" → {6, 1, 0}; missing or unreadable parts are 0.
    static OperatingSystemVersion parseRelease(std::string_view release);

  private:
    OperatingSystemVersion version_;
};

}  // namespace tovalo
