#pragma once

// The simulated desktop's screen-capture service. It lists the desktop's displays and windows as
// shareable content, makes SimStreams that deliver synthetic frames (SimVideoFrame) of one
// window, and answers the screen-recording permission from the desktop's switch. Every
// completion and every delegate call runs on the service's serial queue, made from the
// desktop's runtime. Tests script it: failures and delays of the next start or stop, frames on
// demand or at a frame rate, a stream stopped by the system. Owned by SimDesktop.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "base/dispatch_runtime.h"
#include "capture/capture_service.h"
#include "platform/sim/sim_desktop.h"

namespace tovalo::sim {

class SimStream;

// Codes of the capture service's error domain that only the simulation produces.
inline constexpr std::int64_t kSCStreamErrorAttemptToStartStreamState = -3807;
inline constexpr std::int64_t kSCStreamErrorAttemptToConfigStreamState = -3810;
using ::tovalo::kSCStreamErrorInvalidParameter;
// The captured window is gone.
inline constexpr std::int64_t kSCStreamErrorNoCaptureSource = -3815;

class SimCaptureService final : public CaptureService,
                                public std::enable_shared_from_this<SimCaptureService> {
  public:
    SimCaptureService(std::weak_ptr<SimDesktop> desktop, std::shared_ptr<DispatchRuntime> runtime);

    // Answers on the service queue, after the content delay, with the displays (primary first)
    // and the windows front to back as they are when the answer is produced. Fails with -3801
    // while screen recording is not allowed, or with an injected error.
    void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                             std::function<void(ShareableContentResult)> completion) override;
    std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                         const SCStreamConfiguration& configuration,
                                         std::weak_ptr<SCStreamDelegate> delegate) override;
    bool preflightScreenCaptureAccess() override;
    // Counts the request; with `setGrantsOnRequest(true)` it also allows recording.
    bool requestScreenCaptureAccess() override;

    // ---- Scripting ----
    // The next shareable-content request fails with `error` (once).
    void failNextShareableContent(Error error);
    void setShareableContentDelay(Duration delay);
    // The next startCapture / stopCapture / updateConfiguration of any stream completes with
    // `error`. A failed start leaves the stream stopped; a failed stop leaves it running.
    void failNextStart(Error error);
    void failNextStop(Error error);
    void failNextUpdate(Error error);
    // How long starts and stops take before they complete (virtual time).
    void setStartDelay(Duration delay);
    void setStopDelay(Duration delay);
    void setGrantsOnRequest(bool grants);

    // One frame of the window for every running stream capturing it, paced by each stream's
    // minimum frame interval: a frame asked for sooner is delivered when the interval has passed
    // (several such requests make one frame).
    void deliverFrame(WindowID windowID);
    // Every captured window changes `fps` times a second from now on (0: only on demand); each
    // running stream gets frames at that rate, or at its minimum frame interval if slower.
    void setFrameRate(double fps);
    double frameRate() const;
    // Every running stream of the window ends: its delegate is told `error` on the service queue.
    void stopStreamWithError(WindowID windowID, const Error& error);

    // ---- Reading ----
    // Streams of the window that are running (a start completed, no stop asked for since).
    int runningStreamCount(WindowID windowID) const;
    int runningStreamCount() const;
    // Streams of the window not fully stopped (starting, running or stopping): zero means no
    // capture is left behind.
    int activeStreamCount(WindowID windowID) const;
    int activeStreamCount() const;
    // Streams made and still alive, for any window.
    std::vector<std::shared_ptr<SimStream>> streams() const;
    std::vector<std::shared_ptr<SimStream>> streams(WindowID windowID) const;
    int shareableContentRequestCount() const;
    int accessRequestCount() const;

    // ---- For the desktop and the streams ----
    void handleWindowChange(WindowID windowID, SimWindowChange change);
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    const std::shared_ptr<DispatchRuntime>& runtime() const { return runtime_; }
    std::shared_ptr<SimDesktop> desktop() const { return desktop_.lock(); }
    std::optional<Error> takeStartFailure();
    std::optional<Error> takeStopFailure();
    std::optional<Error> takeUpdateFailure();
    Duration startDelay() const;
    Duration stopDelay() const;

  private:
    SCShareableContent produceContent(const SimDesktop& desktop, bool excludingDesktopWindows,
                                      bool onScreenWindowsOnly) const;

    const std::weak_ptr<SimDesktop> desktop_;
    const std::shared_ptr<DispatchRuntime> runtime_;
    const std::shared_ptr<DispatchQueue> queue_;

    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<SimStream>> streams_;
    std::optional<Error> contentFailure_;
    std::optional<Error> startFailure_;
    std::optional<Error> stopFailure_;
    std::optional<Error> updateFailure_;
    Duration contentDelay_ = Duration::zero();
    Duration startDelay_ = Duration::zero();
    Duration stopDelay_ = Duration::zero();
    double frameRate_ = 0;
    bool grantsOnRequest_ = false;
    int contentRequests_ = 0;
    int accessRequests_ = 0;
};

}  // namespace tovalo::sim
