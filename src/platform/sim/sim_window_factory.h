#pragma once

// Makes this program's windows on the simulated desktop (SimPlatformWindow) and remembers every
// window it made, so tests can find the panels a component created. Owned by SimDesktop.

#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform_window.h"

namespace tovalo::sim {

class SimDesktop;
class SimPlatformWindow;

class SimWindowFactory final : public WindowFactory {
  public:
    explicit SimWindowFactory(std::weak_ptr<SimDesktop> desktop);

    PlatformWindowRef makeWindow(const WindowCreationOptions& options) override;

    // Every window made that is still alive, in creation order (closed ones included).
    std::vector<std::shared_ptr<SimPlatformWindow>> madeWindows() const;
    int madeCount() const;

  private:
    const std::weak_ptr<SimDesktop> desktop_;
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<SimPlatformWindow>> made_;
};

}  // namespace tovalo::sim
