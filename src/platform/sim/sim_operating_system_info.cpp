#include "platform/sim/sim_operating_system_info.h"

namespace tovalo::sim {

OperatingSystemVersion SimOperatingSystemInfo::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

void SimOperatingSystemInfo::setVersion(OperatingSystemVersion version) {
    std::lock_guard lock(mutex_);
    version_ = version;
}

}  // namespace tovalo::sim
