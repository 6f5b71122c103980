#pragma once

// Stateless helpers that decide which display a window belongs to, which windows are listed
// under each display and in what order, and how a window is presented (name, title, icon). Used
// by the status-bar window list, the thumbnail screen and the capture code. Names and titles
// order by canonical code-point order (see canonical_string_order.h): case-sensitive, not
// localised, so "Zebra" comes before "apple". Every sort is stable. Safe from any thread as long
// as the context's functions and the workspace are.

#include <optional>
#include <string>
#include <vector>

#include "capture/capture_types.h"
#include "capture/window_list_context.h"
#include "capture/window_presentation.h"
#include "platform/image.h"
#include "platform/workspace.h"

namespace tovalo {

class WindowListUtilities {
  public:
    // One listed window with the display it is listed under.
    struct WindowListEntry {
        SCWindow window;
        SCDisplay display;

        friend bool operator==(const WindowListEntry&, const WindowListEntry&) = default;
    };

    WindowListUtilities() = delete;

    // The display whose frame shares the largest area with the window's frame; the earlier
    // display wins a tie. A window that only touches a display along an edge is not on it.
    static std::optional<DisplayID> bestDisplayID(const SCWindow& window,
                                                  const std::vector<SCDisplay>& displays);

    // Application name ("Unknown App" without an owning application), then title ("Untitled
    // Window" when absent), both untrimmed.
    static bool windowOrderLess(const SCWindow& a, const SCWindow& b);
    // Window order, then the smaller display ID.
    static bool entryOrderLess(const WindowListEntry& a, const WindowListEntry& b);

    // The windows to list under `display`, in window order. Excluded windows never are. A window
    // with a pinned display stays under that display wherever its frame is now; another pinned
    // window is listed under its best display even when off screen; any other window only when
    // it is on screen, has an owning application and its best display is `display`.
    static std::vector<SCWindow> windows(const SCDisplay& display,
                                         const std::vector<SCWindow>& windows,
                                         const std::vector<SCDisplay>& displays,
                                         const WindowListContext& context);

    // Every display's windows, each window once under the first display (in the given order)
    // that claims it, in entry order.
    static std::vector<WindowListEntry> entries(const std::vector<SCDisplay>& displays,
                                                const std::vector<SCWindow>& windows,
                                                const WindowListContext& context);

    // Application name trimmed of white space (Unicode spaces and line breaks included), else the
    // trimmed application identifier, else "Unknown App"; the trimmed title, absent when empty;
    // and appIcon() for that name.
    static WindowPresentation presentation(const SCWindow& window, const Workspace& workspace);
    // The name and title parts of presentation() alone.
    static std::string presentedAppName(const SCWindow& window);
    static std::optional<std::string> presentedTitle(const SCWindow& window);

    // The icon of the first running application with the window's (trimmed, non-empty)
    // identifier; else the icon of the installed application named `appName`; else the generic
    // application icon.
    static ImageRef appIcon(const SCWindow& window, const std::string& appName,
                            const Workspace& workspace);
};

using WindowListEntry = WindowListUtilities::WindowListEntry;

}  // namespace tovalo
