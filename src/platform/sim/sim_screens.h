#pragma once

// The simulated desktop's displays as the interface sees them: screen frames with the
// bottom-left origin of the primary display, the visible frame without the menu bar, and the
// main screen (where the key window, else the frontmost window, is). Owned by SimDesktop.

#include <memory>

#include "platform/screens.h"

namespace tovalo::sim {

class SimDesktop;

class SimScreens final : public Screens {
  public:
    explicit SimScreens(std::weak_ptr<SimDesktop> desktop);

    std::vector<Screen> screens() const override;
    std::optional<Screen> mainScreen() const override;

  private:
    const std::weak_ptr<SimDesktop> desktop_;
};

}  // namespace tovalo::sim
