#pragma once

// Port: the machine's stable hardware/platform identifier (on Linux the machine id). It never
// leaves the process as it is; only a truncated hash of it does.

#include <optional>
#include <string>

namespace tovalo {

class HardwareIdentity {
public:
    virtual ~HardwareIdentity() = default;
    // Nullopt when the platform identifier cannot be read.
    virtual std::optional<std::string> platformUuid() const = 0;
};

}  // namespace tovalo
