#pragma once

// One capture session of one window: configures and starts a capture stream, hands every valid
// screen frame to its owner and reports the stream's status as (is capturing, has error). Start
// and stop may be requested quickly one after another from any thread: every state change runs
// on the session's serial control queue, and a stop requested while a start is under way is
// remembered and carried out as soon as that start finishes. Failures become status pairs and
// error reports, never exceptions.
//
// Exactly one window stream controller creates and owns each handler; a handler is never reused
// for another window. Work deferred by the handler holds it weakly and does nothing once it is
// gone.
//
// Threads: "com.tovalohq.tovalo.stream.control" owns all session state; frames and the removal
// of the output run on "com.tovalohq.tovalo.capture"; status callbacks run on the main queue.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <string>

#include "base/cancellation.h"
#include "base/debug_log.h"
#include "base/dispatch_queue.h"
#include "base/dispatch_runtime.h"
#include "base/error.h"
#include "capture/capture_service.h"
#include "capture/capture_types.h"
#include "capture/stream_output_type.h"
#include "capture/stream_stop_diagnostics.h"
#include "capture/video_frame.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class StreamSessionHandler final : public SCStreamOutput,
                                   public SCStreamDelegate,
                                   public std::enable_shared_from_this<StreamSessionHandler> {
  public:
    using FrameCallback = std::function<void(const VideoFrameRef&)>;
    using StatusCallback = std::function<void(bool isCapturing, bool hasError)>;

    // All required except the diagnostics readers.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        std::shared_ptr<CaptureService> captureService;
        std::shared_ptr<ErrorReporter> errorReporter;
        // Read on the capture service's thread when the system ends the stream.
        StreamStopDiagnosticsSources diagnostics;
    };

    static constexpr const char* sampleQueueLabel = "com.tovalohq.tovalo.capture";
    static constexpr const char* controlQueueLabel = "com.tovalohq.tovalo.stream.control";
    // The error a start completes with when its task was cancelled before it asked the service.
    static constexpr const char* cancellationErrorDomain = "com.tovalohq.tovalo.TaskCancellation";

    static std::shared_ptr<StreamSessionHandler> create(SCWindow targetWindow,
                                                        Dependencies dependencies);

    StreamSessionHandler(const StreamSessionHandler&) = delete;
    StreamSessionHandler& operator=(const StreamSessionHandler&) = delete;

    // Called on the sample queue with every valid screen frame.
    void setOnFrameReceived(FrameCallback callback);
    // Called on the main queue with every status pair.
    void setOnStatusChange(StatusCallback callback);

    // Capture a picture of width × height points at `scale`. Returns at once.
    void startCapture(double width, double height, double scale);
    // Returns at once; the status (false, false) follows once the stream is stopped.
    void stopCapture();

    // Where the stream hands samples. Only valid screen frames reach the frame callback.
    void didOutputSample(const VideoFrameRef& frame, StreamOutputType type);
    // The service's output path, which carries screen frames only.
    void didOutputFrame(SCStream& stream, const VideoFrameRef& frame) override;
    // The system ended the stream. Any thread.
    void didStopWithError(SCStream& stream, const Error& error) override;

    const SCWindow& targetWindow() const { return targetWindow_; }
    const std::shared_ptr<DispatchQueue>& controlQueue() const { return controlQueue_; }
    const std::shared_ptr<DispatchQueue>& sampleQueue() const { return sampleQueue_; }

  private:
    // The output registered with the stream. It holds the handler weakly, so a stream never
    // keeps its own owner alive.
    class OutputProxy;

    StreamSessionHandler(SCWindow targetWindow, Dependencies dependencies);

    // On the control queue.
    void start(double width, double height, double scale);
    void stop();
    void configure(bool reconfigure, double width, double height, double scale);
    void launchStartTask();
    void finishStart(const std::optional<Error>& error);
    void finishStop(const std::shared_ptr<SCStream>& stream);
    void retire(std::shared_ptr<SCStream> stream);

    // On the capture service's thread.
    void stopCompleted(const std::shared_ptr<SCStream>& stream, const std::optional<Error>& error);

    void reportStatus(bool isCapturing, bool hasError) const;
    void report(const Error& error, const char* operation, ValueMap extras = {},
                std::source_location location = std::source_location::current()) const;
    void debugLine(std::string message, DebugLogProperties properties = {}) const;
    void assertOnControlQueue() const;

    const SCWindow targetWindow_;
    const std::shared_ptr<DispatchRuntime> runtime_;
    const std::shared_ptr<CaptureService> captureService_;
    const std::shared_ptr<ErrorReporter> errorReporter_;
    const StreamStopDiagnosticsSources diagnostics_;
    const std::shared_ptr<DispatchQueue> sampleQueue_;
    const std::shared_ptr<DispatchQueue> controlQueue_;
    std::shared_ptr<SCStreamOutput> output_;

    // Guards the callbacks, which the owner may set while frames flow.
    mutable std::mutex callbackMutex_;
    std::shared_ptr<const FrameCallback> onFrameReceived_;
    std::shared_ptr<const StatusCallback> onStatusChange_;

    // Control queue only.
    SCStreamConfiguration config_;
    std::shared_ptr<SCStream> stream_;
    std::optional<SCContentFilter> filter_;
    std::optional<TaskHandle> startTask_;
    bool isStarting_ = false;
    bool isStopping_ = false;
    bool pendingStop_ = false;
};

}  // namespace tovalo
