#include "capture/app_activator.h"

#include <limits>
#include <string>
#include <variant>
#include <vector>

#include "base/debug_log.h"
#include "pinning/ax_window_lookup.h"
#include "platform/window_server.h"

namespace tovalo {

namespace {

constexpr const char* kOperation = "AppActivator.getAXWindow";

void debugLine(std::string message) {
    TOVALO_DEBUG_LOG("", std::move(message));
}

std::optional<ProcessID> ownerPID(const ValueMap& record) {
    const auto found = record.find(WindowInfoKey::ownerPID);
    if (found == record.end()) {
        return std::nullopt;
    }
    const auto pid = found->second.asInt();
    if (!pid || *pid < std::numeric_limits<ProcessID>::min() ||
        *pid > std::numeric_limits<ProcessID>::max()) {
        return std::nullopt;
    }
    return static_cast<ProcessID>(*pid);
}

// The record's "kCGWindowBounds"; a missing or non-numeric coordinate counts as 0.
std::optional<Rect> recordBounds(const ValueMap& record) {
    const auto found = record.find(WindowInfoKey::bounds);
    if (found == record.end() || !found->second.isMap()) {
        return std::nullopt;
    }
    const ValueMap& bounds = *found->second.asMap();
    const auto number = [&bounds](const char* key) {
        const auto entry = bounds.find(key);
        return entry == bounds.end() ? 0.0 : entry->second.asDouble().value_or(0.0);
    };
    return Rect{number("X"), number("Y"), number("Width"), number("Height")};
}

}  // namespace

AppActivator::AppActivator(Dependencies dependencies)
    : accessibility_(std::move(dependencies.accessibility)),
      windowServerInfo_(std::move(dependencies.windowServerInfo)),
      errorReporter_(std::move(dependencies.errorReporter)) {}

AXUIElementRef AppActivator::getAXWindow(WindowID windowID) const {
    const auto record = windowServerInfo_->rawWindowInfo(windowID);
    const auto pid = record ? ownerPID(*record) : std::nullopt;
    if (!pid) {
        debugLine("AXExecutor: Failed to fetch window info");
        reportMessage("AX window info lookup failed", windowID);
        return nullptr;
    }

    const auto application = accessibility_->createApplicationElement(*pid);
    AXValue windowsValue;
    const AXError firstRead =
        accessibility_->copyAttributeValue(application, AXAttribute::windows, windowsValue);
    if (firstRead != kAXErrorSuccess) {
        debugLine("AXExecutor: Failed to fetch AX window list, error code: " +
                  std::to_string(firstRead));
        reportMessage("Failed to copy AX window list", windowID, {{"ax_error_code", firstRead}});
    }
    // Read again whatever the first read said: a list that settled in between is still usable.
    const AXError secondRead =
        accessibility_->copyAttributeValue(application, AXAttribute::windows, windowsValue);
    const auto* windows = std::get_if<std::vector<AXUIElementRef>>(&windowsValue);
    if (secondRead != kAXErrorSuccess || !windows) {
        debugLine("AXExecutor: Failed to fetch AX window list");
        reportMessage("AX window list unavailable", windowID);
        return nullptr;
    }

    const auto bounds = recordBounds(*record);
    if (!bounds) {
        return nullptr;
    }
    for (const auto& element : *windows) {
        if (element && AXWindowLookup::elementFrame(*accessibility_, element) == bounds) {
            accessibility_->performAction(element, AXAction::raise);
            return element;
        }
    }
    debugLine("AXExecutor: Did not find matching window");
    return nullptr;
}

void AppActivator::reportMessage(const char* message, WindowID windowID, ValueMap extras,
                                 std::source_location location) const {
    if (!errorReporter_) {
        return;
    }
    extras.insert_or_assign("operation", kOperation);
    extras.insert_or_assign("window_id", windowID);
    errorReporter_->capture(std::string(message), ReportLevel::warning, std::nullopt,
                            std::move(extras), location);
}

}  // namespace tovalo
