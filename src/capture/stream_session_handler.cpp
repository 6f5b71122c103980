#include "capture/stream_session_handler.h"

#include <cassert>
#include <chrono>
#include <cstdio>
#include <utility>

#include "base/dispatch_group.h"
#include "capture/stream_configuration_factory.h"

namespace tovalo {

namespace {

constexpr const char* kLogTag = "StreamSession";
// Seconds from the Unix epoch to the reference date 2001-01-01 00:00 UTC.
constexpr double kReferenceDateOffset = 978307200.0;

bool isStopStateError(const Error& error) {
    return error.domain == kSCStreamErrorDomain &&
           error.code == kSCStreamErrorAttemptToStopStreamState;
}

Error cancellationError() {
    return Error{StreamSessionHandler::cancellationErrorDomain, 0, "The start was cancelled."};
}

}  // namespace

class StreamSessionHandler::OutputProxy final : public SCStreamOutput {
  public:
    explicit OutputProxy(std::weak_ptr<StreamSessionHandler> handler)
        : handler_(std::move(handler)) {}

    void didOutputFrame(SCStream& stream, const VideoFrameRef& frame) override {
        if (auto handler = handler_.lock()) {
            handler->didOutputFrame(stream, frame);
        }
    }

  private:
    const std::weak_ptr<StreamSessionHandler> handler_;
};

StreamSessionHandler::StreamSessionHandler(SCWindow targetWindow, Dependencies dependencies)
    : targetWindow_(std::move(targetWindow)),
      runtime_(std::move(dependencies.runtime)),
      captureService_(std::move(dependencies.captureService)),
      errorReporter_(std::move(dependencies.errorReporter)),
      diagnostics_(std::move(dependencies.diagnostics)),
      sampleQueue_(runtime_->makeSerialQueue(sampleQueueLabel)),
      controlQueue_(runtime_->makeSerialQueue(controlQueueLabel)) {}

std::shared_ptr<StreamSessionHandler> StreamSessionHandler::create(SCWindow targetWindow,
                                                                   Dependencies dependencies) {
    std::shared_ptr<StreamSessionHandler> handler(
        new StreamSessionHandler(std::move(targetWindow), std::move(dependencies)));
    handler->output_ = std::make_shared<OutputProxy>(handler);
    return handler;
}

void StreamSessionHandler::setOnFrameReceived(FrameCallback callback) {
    auto shared = callback ? std::make_shared<const FrameCallback>(std::move(callback)) : nullptr;
    std::lock_guard lock(callbackMutex_);
    onFrameReceived_ = std::move(shared);
}

void StreamSessionHandler::setOnStatusChange(StatusCallback callback) {
    auto shared = callback ? std::make_shared<const StatusCallback>(std::move(callback)) : nullptr;
    std::lock_guard lock(callbackMutex_);
    onStatusChange_ = std::move(shared);
}

// ---- Public entry points ----

void StreamSessionHandler::startCapture(double width, double height, double scale) {
    controlQueue_->async([weak = weak_from_this(), width, height, scale] {
        if (auto self = weak.lock()) {
            self->start(width, height, scale);
        }
    });
}

void StreamSessionHandler::stopCapture() {
    controlQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->stop();
        }
    });
}

// ---- Start ----

void StreamSessionHandler::start(double width, double height, double scale) {
    assertOnControlQueue();
    if (isStopping_) {
        // Dropped; the next start clears the flag again.
        pendingStop_ = true;
        return;
    }
    if (isStarting_) {
        // The stream being started takes the new size.
        configure(true, width, height, scale);
        return;
    }
    pendingStop_ = false;
    isStarting_ = true;
    // A running stream about to be replaced is stopped and loses this output, so it neither
    // keeps capturing unowned nor feeds frames into the new session.
    auto previous = std::move(stream_);
    configure(false, width, height, scale);
    if (previous) {
        retire(std::move(previous));
    }
    if (!stream_) {
        isStarting_ = false;
        reportStatus(false, true);
        return;
    }
    launchStartTask();
}

void StreamSessionHandler::configure(bool reconfigure, double width, double height, double scale) {
    assertOnControlQueue();
    config_ = StreamConfigurationFactory::make(width, height, scale);
    if (reconfigure && stream_) {
        debugLine("updateConfiguration",
                  {{"need_update", true}, {"width", config_.width}, {"height", config_.height}});
        stream_->updateConfiguration(config_, [](const std::optional<Error>&) {});
        return;
    }

    filter_ = SCContentFilter{targetWindow_.windowID};
    auto stream = captureService_->makeStream(*filter_, config_, weak_from_this());
    std::optional<Error> failure =
        stream ? stream->addStreamOutput(output_, sampleQueue_)
               : Error{kSCStreamErrorDomain, 0, "The capture service made no stream."};
    if (!failure) {
        stream_ = std::move(stream);
        debugLine("addStreamOutput success",
                  {{"width", config_.width}, {"height", config_.height}});
        return;
    }
    debugLine("Failed to add stream output:", {{"error", failure->description}});
    report(*failure, "StreamSessionHandler.addStreamOutput");
    reportStatus(false, true);
    stream_.reset();
    filter_.reset();
}

void StreamSessionHandler::launchStartTask() {
    assertOnControlQueue();
    if (startTask_) {
        startTask_->cancel();
    }
    CancellationToken token;
    startTask_ = TaskHandle(token);
    auto task = [weak = weak_from_this(), weakStream = std::weak_ptr<SCStream>(stream_), token,
                 controlQueue = controlQueue_] {
        auto self = weak.lock();
        auto stream = weakStream.lock();
        if (!self || !stream) {
            return;
        }
        auto hop = [weak, controlQueue](const std::optional<Error>& outcome) {
            controlQueue->async([weak, outcome] {
                if (auto strong = weak.lock()) {
                    strong->finishStart(outcome);
                }
            });
        };
        if (token.isCancelled()) {
            // Cancelled before the service was asked: nothing was started.
            hop(cancellationError());
            return;
        }
        stream->startCapture(hop);
    };
    runtime_->executor().submit(ExecutionTarget::pool, std::move(task));
}

void StreamSessionHandler::finishStart(const std::optional<Error>& error) {
    assertOnControlQueue();
    isStarting_ = false;
    startTask_.reset();
    if (!error) {
        if (pendingStop_) {
            pendingStop_ = false;
            stop();
        } else {
            reportStatus(true, false);
        }
        return;
    }

    bool hasError = false;
    if (error->domain == cancellationErrorDomain) {
        debugLine("Capture start cancelled");
    } else if (isStopStateError(*error)) {
        debugLine("Capture start aborted while stopping stream", {{"error", error->description}});
    } else {
        debugLine("Capture start failed:", {{"error", error->description}});
        report(*error, "StreamSessionHandler.startCapture");
        hasError = true;
    }
    stream_.reset();
    filter_.reset();
    if (pendingStop_) {
        pendingStop_ = false;
        hasError = false;
    }
    reportStatus(false, hasError);
}

// ---- Stop ----

void StreamSessionHandler::stop() {
    assertOnControlQueue();
    if (isStopping_) {
        // The running stop already covers it.
        pendingStop_ = true;
        return;
    }
    if (isStarting_) {
        // The end of the start carries the stop out.
        pendingStop_ = true;
        if (startTask_) {
            startTask_->cancel();
        }
        return;
    }
    if (!stream_) {
        pendingStop_ = false;
        reportStatus(false, false);
        return;
    }
    isStopping_ = true;
    pendingStop_ = false;
    if (startTask_) {
        startTask_->cancel();
        startTask_.reset();
    }
    // The stream is asked to stop even when the handler is gone by then, so no capture is left
    // running behind a session that no longer exists.
    runtime_->executor().submit(ExecutionTarget::pool, [weak = weak_from_this(), stream = stream_] {
        stream->stopCapture([weak, stream](const std::optional<Error>& error) {
            if (auto self = weak.lock()) {
                self->stopCompleted(stream, error);
            }
        });
    });
}

void StreamSessionHandler::stopCompleted(const std::shared_ptr<SCStream>& stream,
                                         const std::optional<Error>& error) {
    if (error) {
        debugLine("Failed to stop capture:", {{"error", error->description}});
        // A stream the system already ended answers the stop with the stop-state error; that
        // is an ordinary stop.
        if (!isStopStateError(*error)) {
            report(*error, "StreamSessionHandler.stopCapture");
        }
    }
    finishStop(stream);
}

void StreamSessionHandler::finishStop(const std::shared_ptr<SCStream>& stream) {
    // The removal queues behind any frame already waiting on the sample queue, and the stop is
    // reported only after it, so no frame reaches the owner once it has heard of the stop.
    auto group = std::make_shared<DispatchGroup>(runtime_->sharedExecutor());
    group->enter();
    sampleQueue_->async([weak = weak_from_this(), stream, group] {
        if (auto self = weak.lock()) {
            if (auto failure = stream->removeStreamOutput(self->output_)) {
                self->debugLine("Failed to remove stream output:",
                                {{"error", failure->description}});
                self->report(*failure, "StreamSessionHandler.removeStreamOutput");
            }
        }
        group->leave();
    });
    group->notify(controlQueue_, [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->isStopping_ = false;
        self->stream_.reset();
        self->filter_.reset();
        self->reportStatus(false, false);
    });
}

void StreamSessionHandler::retire(std::shared_ptr<SCStream> stream) {
    assertOnControlQueue();
    sampleQueue_->async([stream, output = output_] { (void)stream->removeStreamOutput(output); });
    runtime_->executor().submit(ExecutionTarget::pool, [stream = std::move(stream)] {
        stream->stopCapture([stream](const std::optional<Error>&) {});
    });
}

// ---- Frames and system stops ----

void StreamSessionHandler::didOutputSample(const VideoFrameRef& frame, StreamOutputType type) {
    if (type != StreamOutputType::screen || !frame || !frame->isValid()) {
        return;
    }
    std::shared_ptr<const FrameCallback> callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = onFrameReceived_;
    }
    if (callback) {
        (*callback)(frame);
    }
}

void StreamSessionHandler::didOutputFrame(SCStream&, const VideoFrameRef& frame) {
    didOutputSample(frame, StreamOutputType::screen);
}

void StreamSessionHandler::didStopWithError(SCStream&, const Error& error) {
    debugLine("Stream stopped with error:", {{"error", error.description}});
    const DebugLogProperties diagnostics = streamStopDiagnostics(targetWindow_, diagnostics_);
    debugLine("Stop diagnostics:", diagnostics);

    ValueMap extras;
    extras.emplace("window_title",
                   targetWindow_.title ? Value(*targetWindow_.title) : Value(kDiagnosticsNil));
    extras.emplace("bundle_id", targetWindow_.owningApplication
                                    ? Value(targetWindow_.owningApplication->bundleIdentifier)
                                    : Value(kDiagnosticsNil));
    for (const char* key :
         {StreamStopDiagnosticsKey::scwindowIsOnScreen, StreamStopDiagnosticsKey::scwindowFrame,
          StreamStopDiagnosticsKey::cgwindowFrame, StreamStopDiagnosticsKey::cgwindowInfo,
          StreamStopDiagnosticsKey::inCachedContent, StreamStopDiagnosticsKey::currentFrame}) {
        Value value;
        for (const auto& [name, fact] : diagnostics) {
            if (name == key) {
                value = fact;
            }
        }
        extras.emplace(key, std::move(value));
    }
    report(error, "StreamSessionHandler.didStopWithError", std::move(extras));
    // The stream stays set: the owner decides whether to stop or restart.
    reportStatus(false, true);
}

// ---- Helpers ----

void StreamSessionHandler::reportStatus(bool isCapturing, bool hasError) const {
    runtime_->mainQueue()->async([weak = weak_from_this(), isCapturing, hasError] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        std::shared_ptr<const StatusCallback> callback;
        {
            std::lock_guard lock(self->callbackMutex_);
            callback = self->onStatusChange_;
        }
        if (callback) {
            (*callback)(isCapturing, hasError);
        }
    });
}

void StreamSessionHandler::report(const Error& error, const char* operation, ValueMap extras,
                                  std::source_location location) const {
    extras.insert_or_assign("operation", operation);
    extras.insert_or_assign("window_id", targetWindow_.windowID);
    errorReporter_->capture(error, ReportLevel::error, std::nullopt, std::move(extras), location);
}

void StreamSessionHandler::debugLine(std::string message, DebugLogProperties properties) const {
#ifdef TOVALO_NO_DEBUG_LOG
    (void)message;
    (void)properties;
#else
    const double sinceReferenceDate =
        std::chrono::duration<double>(runtime_->clock().wallNow().time_since_epoch()).count() -
        kReferenceDateOffset;
    char ts[32];
    std::snprintf(ts, sizeof ts, "%.3f", sinceReferenceDate);
    properties.emplace(properties.begin(), "window_id", targetWindow_.windowID);
    properties.emplace(properties.begin() + 1, "ts", std::string(ts));
    TOVALO_DEBUG_LOG(kLogTag, std::move(message), std::move(properties));
#endif
}

void StreamSessionHandler::assertOnControlQueue() const {
    assert(controlQueue_->isCurrent());
}

}  // namespace tovalo
