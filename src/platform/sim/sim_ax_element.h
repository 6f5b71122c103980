#pragma once

// An accessibility element of the simulated desktop: an application (by process ID) or one of
// its windows (by window ID). Two elements are the same when they name the same application or
// window. Made by SimAccessibilityService.

#include "pinning/accessibility_service.h"

namespace tovalo::sim {

class SimAXElement final : public AXUIElement {
  public:
    enum class Kind { application, window };

    static std::shared_ptr<SimAXElement> application(ProcessID pid);
    static std::shared_ptr<SimAXElement> window(ProcessID pid, WindowID windowID);

    SimAXElement(Kind kind, ProcessID pid, WindowID windowID);

    bool isSameElement(const AXUIElement& other) const override;

    Kind kind() const { return kind_; }
    ProcessID pid() const { return pid_; }
    // 0 for an application element.
    WindowID windowID() const { return windowID_; }

  private:
    Kind kind_;
    ProcessID pid_;
    WindowID windowID_;
};

}  // namespace tovalo::sim
