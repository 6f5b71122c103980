#pragma once

// What the pinned window manager and the overlay need of the live-capture engine behind one
// overlay. The manager creates one per pinned window through a WindowStreamControllerFactory
// and owns it with the overlay; the overlay starts capture when it is shown and watches the two
// flags. All calls on the main thread.

#include <functional>
#include <memory>

#include "base/published.h"
#include "capture/capture_types.h"
#include "capture/video_layer.h"

namespace tovalo {

class WindowStreamControlling {
  public:
    virtual ~WindowStreamControlling() = default;

    // Captures `window` at width × height points and `scale` into the video layer. Starting a
    // controller that is already capturing does nothing.
    virtual void startCapture(const SCWindow& window, const SCDisplay& display, double width,
                              double height, double scale) = 0;
    // Ends the capture session, if any, and releases the window for other controllers.
    // Stopping an idle controller does nothing harmful.
    virtual void stopCapture() = 0;

    // Called on the main queue once per session, when its first frame arrived.
    virtual void setOnFirstFrame(std::function<void()> callback) = 0;
    virtual Published<bool>& isCapturing() = 0;
    virtual Published<bool>& hasError() = 0;
    // The layer frames are shown on; the same for the controller's whole life.
    virtual std::shared_ptr<VideoLayer> videoLayer() const = 0;
};

}  // namespace tovalo
