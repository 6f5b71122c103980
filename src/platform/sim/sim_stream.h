#pragma once

// One capture stream of the simulated capture service: captures one window into synthetic
// frames. Starts and stops complete exactly once on the service queue after the service's
// delays; a stop while a start is still pending makes that start complete with -3808 (the start
// lost the race) and the stop succeed; a stop of a stream that is not running completes with
// -3808; a start of a stream already starting, running or stopping completes with -3807. Frames
// reach each output on the queue given with it, in order, never after its removal returned. Made
// by SimCaptureService::makeStream; the caller owns it.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/repeating_timer.h"
#include "capture/capture_service.h"
#include "capture/stream_output_registry.h"

namespace tovalo::sim {

class SimCaptureService;

class SimStream final : public SCStream, public std::enable_shared_from_this<SimStream> {
  public:
    enum class State { stopped, starting, running, stopping };

    SimStream(std::shared_ptr<SimCaptureService> service, SCContentFilter filter,
              SCStreamConfiguration configuration, std::weak_ptr<SCStreamDelegate> delegate);
    ~SimStream() override;

    std::optional<Error> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                         std::shared_ptr<DispatchQueue> queue) override;
    std::optional<Error> removeStreamOutput(const std::shared_ptr<SCStreamOutput>& output) override;
    void startCapture(CaptureCompletion completion) override;
    void stopCapture(CaptureCompletion completion) override;
    void updateConfiguration(const SCStreamConfiguration& configuration,
                             CaptureCompletion completion) override;

    WindowID windowID() const { return filter_.desktopIndependentWindow; }
    const SCContentFilter& filter() const { return filter_; }
    SCStreamConfiguration configuration() const;
    State state() const;
    bool isRunning() const { return state() == State::running; }
    int outputCount() const;
    // Frames produced so far (each goes to every output).
    std::uint64_t frameCount() const;
    int startCallCount() const;
    int stopCallCount() const;

    // ---- For the service ----
    // A frame now, or at the end of the minimum frame interval when the last one was sooner.
    void requestFrame();
    // The window changes `fps` times a second while the stream runs (0: only on demand).
    void setSourceFrameRate(double fps);
    // The system ends the stream: a running stream stops and tells its delegate once.
    void stopWithError(const Error& error);

  private:
    void finishStart(std::uint64_t generation, std::optional<Error> failure,
                     const CaptureCompletion& completion);
    void finishStop(std::uint64_t generation, const CaptureCompletion& completion);
    // With the lock held.
    void emitFrameLocked();
    void stopFramesLocked();
    void startFrameTimerLocked(double fps);
    void complete(Duration delay, CaptureCompletion completion, std::optional<Error> error);

    const std::shared_ptr<SimCaptureService> service_;
    const SCContentFilter filter_;
    const std::weak_ptr<SCStreamDelegate> delegate_;

    mutable std::mutex mutex_;
    SCStreamConfiguration configuration_;
    State state_ = State::stopped;
    // Tells a pending start or stop whether it is still the latest one.
    std::uint64_t generation_ = 0;
    StreamOutputRegistry outputs_;
    std::uint64_t frameSequence_ = 0;
    std::optional<TimePoint> lastFrameAt_;
    bool framePending_ = false;
    TaskHandle pendingFrame_;
    std::unique_ptr<RepeatingTimer> frameTimer_;
    int startCalls_ = 0;
    int stopCalls_ = 0;
};

}  // namespace tovalo::sim
