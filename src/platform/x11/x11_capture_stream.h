#pragma once

// One capture stream of the X11 capture service: captures one window into frames for the
// outputs added to it. Starts, stops and configuration changes run on the service thread and
// complete exactly once there; a start of a stream that runs completes with -3807, a stop of a
// stream that does not run with -3808. Frames reach each output on its queue, in order, never
// after its removal returned. When the window is destroyed or withdrawn the stream stops and
// tells its delegate once. Made by X11CaptureService::makeStream; the caller owns it.

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "capture/capture_service.h"
#include "capture/stream_output_registry.h"
#include "platform/x11/x11_capture_engine.h"
#include "platform/x11/x11_frame_pool.h"

namespace tovalo::x11 {

class X11CaptureStream final : public SCStream,
                               public std::enable_shared_from_this<X11CaptureStream> {
  public:
    X11CaptureStream(std::shared_ptr<CaptureEngine> engine, SCContentFilter filter,
                     SCStreamConfiguration configuration, std::weak_ptr<SCStreamDelegate> delegate);
    ~X11CaptureStream() override;

    std::optional<Error> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                         std::shared_ptr<DispatchQueue> queue) override;
    std::optional<Error> removeStreamOutput(const std::shared_ptr<SCStreamOutput>& output) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;
    void updateConfiguration(const SCStreamConfiguration& configuration,
                             CaptureCompletion completion) override;

    WindowID windowID() const { return filter_.desktopIndependentWindow; }
    bool isRunning() const;
    // The frame buffers of the latest start: at most three exist at a time, reused frame after
    // frame. Zero before the first start.
    int peakFrameBufferCount() const;
    int createdFrameBufferCount() const;

  private:
    void startOnService(const CaptureCompletion& completion);
    void stopOnService(const CaptureCompletion& completion);
    void sessionEnded(CaptureEngine::SessionID id, const Error& error);

    const std::shared_ptr<CaptureEngine> engine_;
    const SCContentFilter filter_;
    const std::weak_ptr<SCStreamDelegate> delegate_;

    mutable std::mutex mutex_;
    SCStreamConfiguration configuration_;
    // Set while running; changed on the service thread only.
    CaptureEngine::SessionID session_ = 0;
    std::shared_ptr<FramePool> pool_;
    StreamOutputRegistry outputs_;
};

}  // namespace tovalo::x11
