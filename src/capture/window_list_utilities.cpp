#include "capture/window_list_utilities.h"

#include <algorithm>
#include <set>
#include <string_view>

#include "base/text_trimming.h"
#include "capture/canonical_string_order.h"

namespace tovalo {

namespace {

constexpr const char* kGenericApplicationFileType = "app";

std::string_view orderingAppName(const SCWindow& window) {
    if (!window.owningApplication) {
        return kUnknownAppName;
    }
    return window.owningApplication->applicationName;
}

std::string_view orderingTitle(const SCWindow& window) {
    if (!window.title) {
        return kUntitledWindowTitle;
    }
    return *window.title;
}

// Negative, zero or positive by application name, then title.
int compareWindows(const SCWindow& a, const SCWindow& b) {
    const int byName = compareCanonically(orderingAppName(a), orderingAppName(b));
    if (byName != 0) {
        return byName;
    }
    return compareCanonically(orderingTitle(a), orderingTitle(b));
}

std::string trimmed(std::string_view text) {
    return std::string(trimWhitespaceAndNewlines(text));
}

}  // namespace

std::optional<DisplayID> WindowListUtilities::bestDisplayID(
    const SCWindow& window, const std::vector<SCDisplay>& displays) {
    double bestArea = 0;
    std::optional<DisplayID> best;
    for (const SCDisplay& display : displays) {
        if (!intersects(display.frame, window.frame)) {
            continue;
        }
        const Rect overlap = intersection(display.frame, window.frame);
        const double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = display.displayID;
        }
    }
    return best;
}

bool WindowListUtilities::windowOrderLess(const SCWindow& a, const SCWindow& b) {
    return compareWindows(a, b) < 0;
}

bool WindowListUtilities::entryOrderLess(const WindowListEntry& a, const WindowListEntry& b) {
    const int byWindow = compareWindows(a.window, b.window);
    if (byWindow != 0) {
        return byWindow < 0;
    }
    return a.display.displayID < b.display.displayID;
}

std::vector<SCWindow> WindowListUtilities::windows(const SCDisplay& display,
                                                   const std::vector<SCWindow>& windows,
                                                   const std::vector<SCDisplay>& displays,
                                                   const WindowListContext& context) {
    std::vector<SCWindow> listed;
    for (const SCWindow& window : windows) {
        if (context.isExcluded && context.isExcluded(window)) {
            continue;
        }
        // A pinned window stays under the display it was pinned on, wherever it is now.
        if (context.pinnedDisplayID) {
            if (const auto pinnedOn = context.pinnedDisplayID(window.windowID)) {
                if (*pinnedOn == display.displayID) {
                    listed.push_back(window);
                }
                continue;
            }
        }
        const auto best = bestDisplayID(window, displays);
        const bool onThisDisplay = best && *best == display.displayID;
        if (context.isPinned && context.isPinned(window.windowID)) {
            if (onThisDisplay) {
                listed.push_back(window);
            }
            continue;
        }
        if (window.isOnScreen && window.owningApplication && onThisDisplay) {
            listed.push_back(window);
        }
    }
    std::stable_sort(listed.begin(), listed.end(), windowOrderLess);
    return listed;
}

std::vector<WindowListEntry> WindowListUtilities::entries(const std::vector<SCDisplay>& displays,
                                                          const std::vector<SCWindow>& windows,
                                                          const WindowListContext& context) {
    std::set<WindowID> seen;
    std::vector<WindowListEntry> result;
    for (const SCDisplay& display : displays) {
        for (SCWindow& window : WindowListUtilities::windows(display, windows, displays, context)) {
            if (seen.insert(window.windowID).second) {
                result.push_back(WindowListEntry{std::move(window), display});
            }
        }
    }
    std::stable_sort(result.begin(), result.end(), entryOrderLess);
    return result;
}

std::string WindowListUtilities::presentedAppName(const SCWindow& window) {
    std::string appName;
    if (window.owningApplication) {
        appName = trimmed(window.owningApplication->applicationName);
        if (appName.empty()) {
            appName = trimmed(window.owningApplication->bundleIdentifier);
        }
    }
    return appName.empty() ? std::string(kUnknownAppName) : appName;
}

std::optional<std::string> WindowListUtilities::presentedTitle(const SCWindow& window) {
    if (window.title) {
        if (std::string title = trimmed(*window.title); !title.empty()) {
            return title;
        }
    }
    return std::nullopt;
}

WindowPresentation WindowListUtilities::presentation(const SCWindow& window,
                                                     const Workspace& workspace) {
    std::string appName = presentedAppName(window);
    ImageRef icon = appIcon(window, appName, workspace);
    return WindowPresentation{std::move(appName), presentedTitle(window), std::move(icon)};
}

ImageRef WindowListUtilities::appIcon(const SCWindow& window, const std::string& appName,
                                      const Workspace& workspace) {
    if (window.owningApplication) {
        const std::string bundleID = trimmed(window.owningApplication->bundleIdentifier);
        if (!bundleID.empty()) {
            const auto running = workspace.runningApplications(bundleID);
            if (!running.empty() && running.front()) {
                if (ImageRef icon = running.front()->icon()) {
                    return icon;
                }
            }
        }
    }
    if (const auto path = workspace.fullPathForApplication(appName)) {
        return workspace.iconForFile(*path);
    }
    return workspace.iconForFileType(kGenericApplicationFileType);
}

}  // namespace tovalo
