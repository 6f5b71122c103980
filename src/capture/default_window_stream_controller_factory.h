#pragma once

// Makes real stream controllers that share one registry, capture service and error reporter.
// Built by the composition root and handed to the pinned window manager.

#include <memory>

#include "capture/window_stream_controller.h"
#include "capture/window_stream_controller_factory.h"

namespace tovalo {

class DefaultWindowStreamControllerFactory final : public WindowStreamControllerFactory {
  public:
    // `dependencies.pinnedWindows` is ignored: each controller gets the manager that asks.
    explicit DefaultWindowStreamControllerFactory(WindowStreamController::Dependencies dependencies)
        : dependencies_(std::move(dependencies)) {}

    std::shared_ptr<WindowStreamControlling> makeController(
        std::weak_ptr<PinnedWindowDirectory> pinnedWindows) override {
        auto dependencies = dependencies_;
        dependencies.pinnedWindows = std::move(pinnedWindows);
        return WindowStreamController::create(std::move(dependencies));
    }

  private:
    const WindowStreamController::Dependencies dependencies_;
};

}  // namespace tovalo
