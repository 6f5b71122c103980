#pragma once

// How one window is shown to the user in lists: its application's name (never empty), its
// title (absent when it has none worth showing) and its application's icon.

#include <optional>
#include <string>

#include "platform/image.h"

namespace tovalo {

struct WindowPresentation {
    std::string appName;
    std::optional<std::string> title;
    // Null only when the workspace has no icon at all to offer.
    ImageRef icon;
};

}  // namespace tovalo
