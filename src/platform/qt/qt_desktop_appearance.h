#pragma once

// The desktop's light or dark appearance as Qt sees it: the lightness of the application
// palette's window colour, which follows the desktop theme. Main thread.

#include "platform/desktop_appearance.h"

namespace tovalo::qt {

class QtDesktopAppearance final : public DesktopAppearance {
  public:
    Match bestMatch() const override;
};

}  // namespace tovalo::qt
