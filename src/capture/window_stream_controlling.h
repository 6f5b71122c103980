#pragma once

// What the pinned window manager needs of the live-capture engine behind one overlay. The
// manager creates one per pinned window through a WindowStreamControllerFactory and owns it
// with the overlay; the overlay starts capture when it is shown. All calls on the main thread.

namespace tovalo {

class WindowStreamControlling {
  public:
    virtual ~WindowStreamControlling() = default;

    // Ends the capture session, if any, and releases the window for other controllers.
    // Stopping an idle controller does nothing harmful.
    virtual void stopCapture() = 0;
};

}  // namespace tovalo
