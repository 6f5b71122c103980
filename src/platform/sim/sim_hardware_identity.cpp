#include "platform/sim/sim_hardware_identity.h"

namespace tovalo::sim {

std::optional<std::string> SimHardwareIdentity::platformUuid() const {
    ++reads_;
    std::lock_guard lock(mutex_);
    return platformUuid_;
}

void SimHardwareIdentity::setPlatformUuid(std::optional<std::string> platformUuid) {
    std::lock_guard lock(mutex_);
    platformUuid_ = std::move(platformUuid);
}

}  // namespace tovalo::sim
