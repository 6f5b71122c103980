#pragma once

// The Linux platform identifier: the machine id that systemd (or D-Bus on older systems) keeps in
// a file, 32 hexadecimal digits fixed at installation. The files are read on every call, in
// order, and the first usable one wins. Safe to use from any thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/hardware_identity.h"

namespace tovalo {

class MachineIdIdentity final : public HardwareIdentity {
  public:
    // /etc/machine-id, then /var/lib/dbus/machine-id.
    MachineIdIdentity();
    // Tests point it at their own files.
    explicit MachineIdIdentity(std::vector<std::string> paths);

    // The first file's content without surrounding white space, skipping files that are missing,
    // unreadable, empty, implausibly large, or that still say "uninitialized" (early first boot);
    // nullopt when none is usable.
    std::optional<std::string> platformUuid() const override;

  private:
    std::vector<std::string> paths_;
};

}  // namespace tovalo
