#include "platform/sim/sim_bundle_info.h"

namespace tovalo::sim {

SimBundleInfo::SimBundleInfo() {
    values_[BundleInfoKey::identifier] = Value("com.tovalohq.tovalo");
    values_[BundleInfoKey::shortVersion] = Value("1.0.0");
    values_[BundleInfoKey::version] = Value("1");
}

std::optional<Value> SimBundleInfo::infoValue(std::string_view key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void SimBundleInfo::setInfoValue(std::string key, Value value) {
    std::lock_guard lock(mutex_);
    values_[std::move(key)] = std::move(value);
}

void SimBundleInfo::removeInfoValue(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (auto it = values_.find(key); it != values_.end()) {
        values_.erase(it);
    }
}

}  // namespace tovalo::sim
