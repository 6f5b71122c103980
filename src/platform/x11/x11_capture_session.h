#pragma once

// One running capture of one stream on the service thread: turns the source's changes into
// frames, no more often than the stream's minimum frame interval (timed on the runtime's clock)
// and never when nothing changed; reads the pixels through shared memory into the stream's
// frame pool and scales them only when the stream asks for another size, or, when the engine
// delivers server surfaces, hands over the window's named pixmap without reading it. Made when a
// stream starts, owned by the engine until the stream stops or the source goes.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "base/cancellation.h"
#include "capture/capture_service.h"
#include "platform/x11/x11_capture_engine.h"
#include "platform/x11/x11_capture_target.h"
#include "platform/x11/x11_frame_pool.h"

namespace tovalo::x11 {

class CaptureSession final : public CaptureTarget::Listener {
  public:
    struct Callbacks {
        std::function<void(const VideoFrameRef&)> onFrame;
        // The session ended by itself (source gone, service ended); called once.
        std::function<void(const Error&)> onEnded;
    };

    // Nullptr with `error` filled when `window` cannot be captured.
    static std::unique_ptr<CaptureSession> create(CaptureEngine& engine, WindowID window,
                                                  const SCStreamConfiguration& configuration,
                                                  Callbacks callbacks, Error* error);
    ~CaptureSession() override;
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // The engine's key for this session, given once it is registered.
    void activate(CaptureEngine::SessionID id);
    void reconfigure(const SCStreamConfiguration& configuration);
    // A frame as soon as pacing allows, whether or not the source changed.
    void requestFrame();
    // Ends the session from outside (the service is ending); tells onEnded once.
    void end(const Error& error);
    const std::shared_ptr<FramePool>& pool() const { return pool_; }
    // Until when this session cannot take another frame anyway (its last frame plus the
    // minimum interval); nullopt when it could take one now.
    std::optional<TimePoint> pacedUntil() const;

    void targetChanged() override;
    void targetGone(const Error& error) override;

  private:
    CaptureSession(CaptureEngine& engine, std::shared_ptr<CaptureTarget> target,
                   const SCStreamConfiguration& configuration, Callbacks callbacks);

    void schedule();
    void capture();
    void captureSurface();
    bool read(const ShmSegment& into, std::uint32_t width, std::uint32_t height);

    CaptureEngine& engine_;
    const std::shared_ptr<CaptureTarget> target_;
    const std::shared_ptr<FramePool> pool_;
    const std::shared_ptr<std::atomic<bool>> starved_;
    SCStreamConfiguration configuration_;
    Callbacks callbacks_;
    CaptureEngine::SessionID id_ = 0;
    // The full-size picture when the stream wants another size; kept between frames.
    std::unique_ptr<ShmSegment> scratch_;
    std::optional<TimePoint> lastFrameAt_;
    TaskHandle paceTimer_;
    bool dirty_ = false;
    bool timerPending_ = false;
    bool capturing_ = false;
    bool ended_ = false;
};

}  // namespace tovalo::x11
