#pragma once

// The pinning commands that global shortcuts run through the application delegate: start the
// window picker, and unpin or restore all pinned windows. The commands subsystem implements it;
// the delegate owns the one instance. Main thread.

#include <string>

namespace tovalo {

class PinningCommands {
  public:
    virtual ~PinningCommands() = default;

    // Starts the window picker when both permissions are granted.
    virtual void startSelectionFromShortcut() = 0;

    // Unpins every pinned window, or restores those of the last unpin-all. `source` says what
    // asked for it ("menu", "shortcut").
    virtual void togglePinnedWindows(const std::string& source) = 0;
};

}  // namespace tovalo
