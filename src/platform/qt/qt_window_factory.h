#pragma once

// Makes this program's windows on the Qt backend (QtPanel) and remembers them weakly, so the
// application can list its open windows front to back. Main thread; owned by the composition
// root and shared with QtApplication.

#include <memory>
#include <vector>

#include "base/dispatch_runtime.h"
#include "platform/platform_window.h"
#include "platform/qt/qt_panel.h"

namespace tovalo::qt {

class QtWindowFactory final : public WindowFactory {
  public:
    explicit QtWindowFactory(std::shared_ptr<DispatchRuntime> runtime);

    PlatformWindowRef makeWindow(const WindowCreationOptions& options) override;

    // Windows made here that are still alive and not closed: the visible ones first, each group
    // in the order they were last ordered front, the latest first.
    std::vector<std::shared_ptr<QtPanel>> openWindows() const;

  private:
    const std::shared_ptr<DispatchRuntime> runtime_;
    mutable std::vector<std::weak_ptr<QtPanel>> made_;
};

}  // namespace tovalo::qt
