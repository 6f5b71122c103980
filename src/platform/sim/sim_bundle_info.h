#pragma once

// The simulated program package's info values. Starts with an identifier, a short version and a
// build number; tests set, change or remove any key.

#include <map>
#include <mutex>
#include <string>

#include "platform/bundle_info.h"

namespace tovalo::sim {

class SimBundleInfo final : public BundleInfo {
  public:
    // Identifier "com.tovalohq.tovalo", short version "1.0.0", build "1".
    SimBundleInfo();

    std::optional<Value> infoValue(std::string_view key) const override;

    void setInfoValue(std::string key, Value value);
    void removeInfoValue(std::string_view key);

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Value, std::less<>> values_;
};

}  // namespace tovalo::sim
