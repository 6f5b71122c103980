#pragma once

// The simulated operating system's version; tests set it to select version-dependent looks.

#include <mutex>

#include "platform/operating_system_info.h"

namespace tovalo::sim {

class SimOperatingSystemInfo final : public OperatingSystemInfo {
  public:
    explicit SimOperatingSystemInfo(OperatingSystemVersion version = {}) : version_(version) {}

    OperatingSystemVersion version() const override;
    void setVersion(OperatingSystemVersion version);

  private:
    mutable std::mutex mutex_;
    OperatingSystemVersion version_;
};

}  // namespace tovalo::sim
