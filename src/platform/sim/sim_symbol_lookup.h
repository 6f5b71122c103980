#pragma once

// The simulated desktop's icon names: exactly the names it was given exist.

#include <initializer_list>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "platform/symbol_lookup.h"

namespace tovalo::sim {

class SimSymbolLookup final : public SymbolLookup {
  public:
    SimSymbolLookup() = default;
    SimSymbolLookup(std::initializer_list<std::string> names) : names_(names) {}

    bool hasSymbol(std::string_view name) const override;

    void addSymbol(std::string name);
    void removeSymbol(std::string_view name);

  private:
    mutable std::mutex mutex_;
    std::set<std::string, std::less<>> names_;
};

}  // namespace tovalo::sim
