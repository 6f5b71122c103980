#pragma once

// A stand-in for the per-window stream controller: it records starts and stops and can run a
// hook inside a stop, as a real controller's stop may call back into the manager. Main thread
// only.

#include <functional>
#include <memory>
#include <vector>

#include "capture/window_stream_controller_factory.h"
#include "capture/window_stream_controlling.h"

namespace tovalo {

class RecordingStreamController final : public WindowStreamControlling {
  public:
    void startCapture(const SCWindow& window, const SCDisplay&, double, double, double) override {
        started.push_back(window.windowID);
        isCapturing_.set(true);
    }
    void stopCapture() override {
        ++stopCount;
        isCapturing_.set(false);
        if (onStop) {
            onStop();
        }
    }
    void setOnFirstFrame(std::function<void()> callback) override {
        onFirstFrame = std::move(callback);
    }
    Published<bool>& isCapturing() override { return isCapturing_; }
    Published<bool>& hasError() override { return hasError_; }
    std::shared_ptr<VideoLayer> videoLayer() const override { return nullptr; }

    std::vector<WindowID> started;
    int stopCount = 0;
    std::function<void()> onStop;
    std::function<void()> onFirstFrame;
    std::weak_ptr<PinnedWindowDirectory> pinnedWindows;

  private:
    Published<bool> isCapturing_{false};
    Published<bool> hasError_{false};
};

class RecordingStreamControllerFactory final : public WindowStreamControllerFactory {
  public:
    std::shared_ptr<WindowStreamControlling> makeController(
        std::weak_ptr<PinnedWindowDirectory> pinnedWindows) override {
        made.push_back(std::make_shared<RecordingStreamController>());
        made.back()->pinnedWindows = std::move(pinnedWindows);
        return made.back();
    }

    // Every controller made, oldest first.
    std::vector<std::shared_ptr<RecordingStreamController>> made;
};

}  // namespace tovalo
