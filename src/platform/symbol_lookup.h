#pragma once

// Port to the desktop's named icons: whether an icon of a given name exists on the running
// system, so views can pick the first of several candidates that does. The backend asks its icon
// theme; the simulated desktop knows a set of names. Built by the composition root; safe to call
// from any thread.

#include <string_view>

namespace tovalo {

class SymbolLookup {
  public:
    virtual ~SymbolLookup() = default;

    virtual bool hasSymbol(std::string_view name) const = 0;
};

}  // namespace tovalo
