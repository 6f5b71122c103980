#pragma once

// The installation's stable, anonymous device identifier, which analytics and error reports are
// attributed to. It is derived from the machine's platform identifier, so it survives relaunches
// and reinstalls; when that cannot be read, from a random UUID kept in the preferences. Only a
// truncated hash ever leaves the process, never the identifier it comes from. Built by the
// composition root; safe to call from any thread. Nothing is cached: every call reads the
// platform identifier again.

#include <mutex>
#include <string>
#include <string_view>

#include "base/preferences_store.h"
#include "platform/hardware_identity.h"
#include "platform/hasher.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class DeviceIDProvider {
  public:
    // The preferences key of the fallback UUID (upper-case canonical text).
    static constexpr const char* fallbackDefaultsKey = "tovalo_fallback_device_uuid";

    // Every collaborator must outlive the provider.
    DeviceIDProvider(const HardwareIdentity& hardware, const Hasher& hasher,
                     PreferencesStore& preferences, ErrorReporter& reporter);

    // 22 characters of URL-safe Base64. Never fails; each call that has to use the fallback
    // UUID files one error report saying so.
    std::string deviceID() const;

    // The first 16 bytes of the SHA-256 digest of `text` in URL-safe Base64 without padding.
    static std::string derive(std::string_view text, const Hasher& hasher);

  private:
    // The stored fallback UUID, created and stored first when there is none (or an empty one).
    std::string fallbackUuid() const;

    const HardwareIdentity& hardware_;
    const Hasher& hasher_;
    PreferencesStore& preferences_;
    ErrorReporter& reporter_;
    // Makes reading and creating the fallback one step, so racing first calls in this process
    // agree on a single UUID.
    mutable std::mutex fallbackMutex_;
};

}  // namespace tovalo
