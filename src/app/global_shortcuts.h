#pragma once

// The global keyboard shortcuts, as the application delegate drives them: named shortcuts that
// exist only once the user records a key combination for them, each running a handler when the
// combination is released, whatever application is in front. The shortcut subsystem implements
// it; the delegate owns the one instance. Main thread.

#include <functional>
#include <string>

namespace tovalo {

// The names under which the user's shortcuts are stored. `toggleWindowUnderMouse` unpins or
// restores all windows; it keeps this name because recorded shortcuts are stored under it.
namespace ShortcutName {
inline constexpr const char* showMainWindow = "showMainWindow";
inline constexpr const char* toggleWindowUnderMouse = "toggleWindowUnderMouse";
inline constexpr const char* startWindowSelection = "startWindowSelection";
}  // namespace ShortcutName

class GlobalShortcuts {
  public:
    using KeyUpHandler = std::function<void()>;

    virtual ~GlobalShortcuts() = default;

    // Creates `name` without a default combination and runs `onKeyUp` on the main thread at every
    // release of the combination the user recorded for it.
    virtual void registerShortcut(const std::string& name, KeyUpHandler onKeyUp) = 0;

    // Starts following changes of the user's preferences, refreshing the key equivalents that the
    // status menu shows for the recorded shortcuts after each one. The implementation keeps the
    // observer for its own lifetime.
    virtual void observePreferenceChanges() = 0;
};

}  // namespace tovalo
