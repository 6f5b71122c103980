#pragma once

// A stand-in for the per-window stream controller: it counts stops and can run a hook inside a
// stop, as a real controller's stop may call back into the manager. Main thread only.

#include <functional>
#include <memory>
#include <vector>

#include "capture/window_stream_controller_factory.h"
#include "capture/window_stream_controlling.h"

namespace tovalo {

class RecordingStreamController final : public WindowStreamControlling {
  public:
    void stopCapture() override {
        ++stopCount;
        if (onStop) {
            onStop();
        }
    }

    int stopCount = 0;
    std::function<void()> onStop;
};

class RecordingStreamControllerFactory final : public WindowStreamControllerFactory {
  public:
    std::shared_ptr<WindowStreamControlling> makeController() override {
        made.push_back(std::make_shared<RecordingStreamController>());
        return made.back();
    }

    // Every controller made, oldest first.
    std::vector<std::shared_ptr<RecordingStreamController>> made;
};

}  // namespace tovalo
