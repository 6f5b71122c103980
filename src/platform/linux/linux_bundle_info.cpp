#include "platform/linux/linux_bundle_info.h"

#include <utility>

namespace tovalo {

LinuxBundleInfo::LinuxBundleInfo(std::string identifier, std::string shortVersion,
                                 std::string buildVersion)
    : identifier_(std::move(identifier)),
      shortVersion_(std::move(shortVersion)),
      buildVersion_(std::move(buildVersion)) {}

std::optional<Value> LinuxBundleInfo::infoValue(std::string_view key) const {
    if (key == BundleInfoKey::identifier) {
        return Value(identifier_);
    }
    if (key == BundleInfoKey::shortVersion) {
        return Value(shortVersion_);
    }
    if (key == BundleInfoKey::version) {
        return Value(buildVersion_);
    }
    return std::nullopt;
}

}  // namespace tovalo
