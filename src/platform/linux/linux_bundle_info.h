#pragma once

// This program's identity on Linux: the identifier, the version and the build number the
// build system stamps into the executable. There is no bundle; the values are fixed at build time.

#include <string>

#include "platform/bundle_info.h"

namespace tovalo {

class LinuxBundleInfo final : public BundleInfo {
  public:
    LinuxBundleInfo(std::string identifier, std::string shortVersion, std::string buildVersion);

    std::optional<Value> infoValue(std::string_view key) const override;

  private:
    std::string identifier_;
    std::string shortVersion_;
    std::string buildVersion_;
};

}  // namespace tovalo
