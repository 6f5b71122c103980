#pragma once

// Port to the desktop's light/dark appearance: which of the two the desktop currently paints
// its applications with. The backend reads its desktop setting (or the toolkit's palette); the
// simulated desktop returns what the test set. The composition root builds one and hands it to
// the theme manager, which asks it on the main thread only.

namespace tovalo {

class DesktopAppearance {
  public:
    // The best match of the application's effective appearance among the dark and the light
    // appearance; `none` when it is neither.
    enum class Match { dark, light, none };

    virtual ~DesktopAppearance() = default;

    virtual Match bestMatch() const = 0;
};

}  // namespace tovalo
