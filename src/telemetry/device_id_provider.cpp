#include "telemetry/device_id_provider.h"

#include <algorithm>
#include <span>

#include "base/base64.h"
#include "base/uuid.h"

namespace tovalo {

DeviceIDProvider::DeviceIDProvider(const HardwareIdentity& hardware, const Hasher& hasher,
                                   PreferencesStore& preferences, ErrorReporter& reporter)
    : hardware_(hardware), hasher_(hasher), preferences_(preferences), reporter_(reporter) {}

std::string DeviceIDProvider::deviceID() const {
    if (const auto platformUuid = hardware_.platformUuid();
        platformUuid && !platformUuid->empty()) {
        return derive(*platformUuid, hasher_);
    }
    const std::string fallback = fallbackUuid();
    reporter_.capture("Device identifier unavailable, using fallback", ReportLevel::error,
                      std::nullopt,
                      {{"operation", "DeviceIDProvider.deviceID"}, {"uses_fallback", true}});
    return derive(fallback, hasher_);
}

std::string DeviceIDProvider::fallbackUuid() const {
    std::lock_guard lock(fallbackMutex_);
    if (auto stored = preferences_.stringValue(fallbackDefaultsKey); stored && !stored->empty()) {
        return *stored;
    }
    std::string created = Uuid::random().toString();
    preferences_.setString(fallbackDefaultsKey, created);
    return created;
}

std::string DeviceIDProvider::derive(std::string_view text, const Hasher& hasher) {
    const auto digest = hasher.sha256(text);
    std::string encoded = base64Encode(std::span<const std::uint8_t>(digest).first(16));
    std::erase(encoded, '=');
    std::replace(encoded.begin(), encoded.end(), '+', '-');
    std::replace(encoded.begin(), encoded.end(), '/', '_');
    return encoded;
}

}  // namespace tovalo
