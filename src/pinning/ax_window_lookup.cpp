#include "pinning/ax_window_lookup.h"

#include <limits>
#include <variant>
#include <vector>

#include "platform/window_server.h"

namespace tovalo {

ProcessID AXWindowLookup::ownerPID(WindowID windowID) const {
    const auto record = windowServerInfo_.rawWindowInfo(windowID);
    if (!record) {
        return 0;
    }
    const auto found = record->find(WindowInfoKey::ownerPID);
    if (found == record->end()) {
        return 0;
    }
    const auto pid = found->second.asInt();
    if (!pid || *pid < std::numeric_limits<ProcessID>::min() ||
        *pid > std::numeric_limits<ProcessID>::max()) {
        return 0;
    }
    return static_cast<ProcessID>(*pid);
}

AXUIElementRef AXWindowLookup::findAXWindow(WindowID windowID) const {
    const ProcessID pid = ownerPID(windowID);
    if (pid < 1) {
        return nullptr;
    }
    const auto application = accessibility_.createApplicationElement(pid);
    AXValue windowsValue;
    if (!application || accessibility_.copyAttributeValue(application, AXAttribute::windows,
                                                          windowsValue) != kAXErrorSuccess) {
        return nullptr;
    }
    const auto* windows = std::get_if<std::vector<AXUIElementRef>>(&windowsValue);
    if (!windows) {
        return nullptr;
    }
    const auto bounds = windowServerInfo_.windowBounds(windowID);
    if (!bounds) {
        return nullptr;
    }

    for (const auto& element : *windows) {
        AXValue number;
        if (!element || accessibility_.copyAttributeValue(element, AXAttribute::windowNumber,
                                                          number) != kAXErrorSuccess) {
            continue;
        }
        // The number is the window server's 32-bit window ID; wider values wrap as they would
        // when read into one.
        if (const auto* value = std::get_if<std::int64_t>(&number);
            value && static_cast<WindowID>(*value) == windowID) {
            return element;
        }
    }
    for (const auto& element : *windows) {
        if (element && elementFrame(accessibility_, element) == bounds) {
            return element;
        }
    }
    return nullptr;
}

std::optional<Rect> AXWindowLookup::elementFrame(AccessibilityService& accessibility,
                                                 const AXUIElementRef& element) {
    AXValue position;
    AXValue size;
    if (accessibility.copyAttributeValue(element, AXAttribute::position, position) !=
            kAXErrorSuccess ||
        accessibility.copyAttributeValue(element, AXAttribute::size, size) != kAXErrorSuccess) {
        return std::nullopt;
    }
    const auto* point = std::get_if<Point>(&position);
    const auto* extent = std::get_if<Size>(&size);
    if (!point || !extent) {
        return std::nullopt;
    }
    return Rect{*point, *extent};
}

}  // namespace tovalo
