#include "platform/sim/sim_symbol_lookup.h"

namespace tovalo::sim {

bool SimSymbolLookup::hasSymbol(std::string_view name) const {
    std::lock_guard lock(mutex_);
    return names_.find(name) != names_.end();
}

void SimSymbolLookup::addSymbol(std::string name) {
    std::lock_guard lock(mutex_);
    names_.insert(std::move(name));
}

void SimSymbolLookup::removeSymbol(std::string_view name) {
    std::lock_guard lock(mutex_);
    if (auto it = names_.find(name); it != names_.end()) {
        names_.erase(it);
    }
}

}  // namespace tovalo::sim
