#pragma once

// Whether a named symbol (icon) exists: looked up in the desktop's icon theme. Main thread.

#include "platform/symbol_lookup.h"

namespace tovalo::qt {

class QtSymbolLookup final : public SymbolLookup {
  public:
    bool hasSymbol(std::string_view name) const override;
};

}  // namespace tovalo::qt
