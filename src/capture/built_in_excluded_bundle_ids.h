#pragma once

// Applications whose windows are never offered for capture, whatever the user chose: this
// program itself, system chrome, and utilities that draw over every window or record the
// screen (capturing their overlays would only show the overlay). The empty identifier is in the
// set so that windows without one are excluded too.

#include <set>
#include <string>

namespace tovalo {

const std::set<std::string, std::less<>>& builtInExcludedBundleIDs();

}  // namespace tovalo
