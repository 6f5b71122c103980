#pragma once

// The screen-capture service on X11. Captures a window through XComposite (the window manager's
// frame redirected off-screen, so covered windows are captured too), produces frames when
// DAMAGE reports a change, paced to each stream's minimum frame interval, and reads pixels
// through MIT-SHM into a few reused buffers per stream, or hands the window's server-side
// picture over without reading it (see FrameDelivery). Lists displays (RandR) and client
// windows as shareable content. Everything runs on one service thread with its own X
// connection; completions and delegate calls happen there. Recording needs no permission on X11.
// Owned by the composition root; destroying it ends every stream (their delegates are told).

#include <memory>
#include <string>

#include "base/dispatch_runtime.h"
#include "capture/capture_service.h"
#include "platform/x11/x11_capture_engine.h"

namespace tovalo::x11 {

class X11CaptureService final : public CaptureService {
  public:
    // Connects to `displayName` (empty: $DISPLAY). Pacing timers and timestamps use `runtime`.
    // Nullptr with `error` filled when there is no X server or it cannot capture windows.
    static std::shared_ptr<X11CaptureService> create(
        const std::string& displayName, std::shared_ptr<DispatchRuntime> runtime, Error* error,
        FrameDelivery delivery = FrameDelivery::clientPixels);
    ~X11CaptureService() override;
    X11CaptureService(const X11CaptureService&) = delete;
    X11CaptureService& operator=(const X11CaptureService&) = delete;

    // Answers on the service thread with the content as it is when read.
    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(ShareableContentResult)> completion) override;
    std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                         const SCStreamConfiguration& configuration,
                                         std::weak_ptr<SCStreamDelegate> delegate) override;
    bool preflightScreenCaptureAccess() override { return true; }
    bool requestScreenCaptureAccess() override { return true; }

    // Returns once every request made and every X event sent to the service before the call
    // have been handled (frames of those changes are then on their output queues). For tests;
    // never from a completion or delegate call.
    void waitUntilIdle();

  private:
    explicit X11CaptureService(std::shared_ptr<CaptureEngine> engine);

    const std::shared_ptr<CaptureEngine> engine_;
};

}  // namespace tovalo::x11
