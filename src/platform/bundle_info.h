#pragma once

// Port: facts about the program's own package, looked up by the platform's info keys
// ("CFBundleShortVersionString", "CFBundleVersion", ...).

#include <optional>
#include <string_view>

#include "base/value.h"

namespace tovalo {

namespace BundleInfoKey {
inline constexpr const char* shortVersion = "CFBundleShortVersionString";
inline constexpr const char* version = "CFBundleVersion";
inline constexpr const char* identifier = "CFBundleIdentifier";
}  // namespace BundleInfoKey

class BundleInfo {
public:
    virtual ~BundleInfo() = default;
    virtual std::optional<Value> infoValue(std::string_view key) const = 0;
};

}  // namespace tovalo
