#pragma once

// A platform identifier set by the test: present, empty or unreadable (nullopt). Counts reads so
// tests can check that nothing caches it. Safe to use from any thread.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/hardware_identity.h"

namespace tovalo::sim {

class SimHardwareIdentity final : public HardwareIdentity {
  public:
    explicit SimHardwareIdentity(std::optional<std::string> platformUuid = std::nullopt)
        : platformUuid_(std::move(platformUuid)) {}

    std::optional<std::string> platformUuid() const override;

    void setPlatformUuid(std::optional<std::string> platformUuid);
    int readCount() const { return reads_.load(); }

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> platformUuid_;
    mutable std::atomic<int> reads_{0};
};

}  // namespace tovalo::sim
