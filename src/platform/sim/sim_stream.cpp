#include "platform/sim/sim_stream.h"

#include <algorithm>
#include <cmath>

#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_video_frame.h"

namespace tovalo::sim {

namespace {

Error streamError(std::int64_t code, std::string description) {
    return Error{kSCStreamErrorDomain, code, std::move(description)};
}

}  // namespace

SimStream::SimStream(std::shared_ptr<SimCaptureService> service, SCContentFilter filter,
                     SCStreamConfiguration configuration, std::weak_ptr<SCStreamDelegate> delegate)
    : service_(std::move(service)),
      filter_(filter),
      delegate_(std::move(delegate)),
      configuration_(configuration) {}

SimStream::~SimStream() = default;

std::optional<Error> SimStream::addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                                std::shared_ptr<DispatchQueue> queue) {
    return outputs_.add(std::move(output), std::move(queue));
}

std::optional<Error> SimStream::removeStreamOutput(const std::shared_ptr<SCStreamOutput>& output) {
    return outputs_.remove(output);
}

void SimStream::complete(Duration delay, CaptureCompletion completion, std::optional<Error> error) {
    auto task = [completion = std::move(completion), error = std::move(error)] {
        if (completion) {
            completion(error);
        }
    };
    if (delay > Duration::zero()) {
        service_->queue()->asyncAfter(delay, std::move(task));
    } else {
        service_->queue()->async(std::move(task));
    }
}

void SimStream::startCapture(CaptureCompletion completion) {
    const Duration delay = service_->startDelay();
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        ++startCalls_;
        if (state_ != State::stopped) {
            complete(delay, std::move(completion),
                     streamError(kSCStreamErrorAttemptToStartStreamState,
                                 "The stream is already starting or running."));
            return;
        }
        state_ = State::starting;
        generation = ++generation_;
    }
    auto failure = service_->takeStartFailure();
    // The pending start keeps the stream alive, so it completes even if the caller lets go.
    auto self = shared_from_this();
    auto task = [self, generation, failure = std::move(failure),
                 completion = std::move(completion)] {
        self->finishStart(generation, failure, completion);
    };
    if (delay > Duration::zero()) {
        service_->queue()->asyncAfter(delay, std::move(task));
    } else {
        service_->queue()->async(std::move(task));
    }
}

void SimStream::finishStart(std::uint64_t generation, std::optional<Error> failure,
                            const CaptureCompletion& completion) {
    std::optional<Error> error;
    auto desktop = service_->desktop();
    const auto window = desktop ? desktop->window(windowID()) : std::nullopt;
    const bool allowed = desktop && desktop->isScreenRecordingAllowed();
    const double fps = service_->frameRate();
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::starting || generation_ != generation) {
            error = streamError(kSCStreamErrorAttemptToStopStreamState,
                                "The stream was stopped before it started.");
        } else if (failure) {
            state_ = State::stopped;
            error = failure;
        } else if (!allowed) {
            state_ = State::stopped;
            error = streamError(kSCStreamErrorUserDeclined, "The user declined screen recording.");
        } else if (!window) {
            state_ = State::stopped;
            error = streamError(kSCStreamErrorNoCaptureSource, "The window is not available.");
        } else {
            state_ = State::running;
            lastFrameAt_.reset();
            startFrameTimerLocked(fps);
        }
    }
    if (completion) {
        completion(error);
    }
}

void SimStream::stopCapture(CaptureCompletion completion) {
    const Duration delay = service_->stopDelay();
    State state;
    {
        std::lock_guard lock(mutex_);
        ++stopCalls_;
        state = state_;
    }
    if (state == State::stopped || state == State::stopping) {
        complete(delay, std::move(completion),
                 streamError(kSCStreamErrorAttemptToStopStreamState, "The stream is not running."));
        return;
    }
    if (auto failure = service_->takeStopFailure(); failure && state == State::running) {
        complete(delay, std::move(completion), std::move(failure));
        return;
    }
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::stopped || state_ == State::stopping) {
            complete(
                delay, std::move(completion),
                streamError(kSCStreamErrorAttemptToStopStreamState, "The stream is not running."));
            return;
        }
        // No frame is produced once a stop was asked for; a pending start loses the race.
        state_ = State::stopping;
        generation = ++generation_;
        stopFramesLocked();
    }
    auto self = shared_from_this();
    auto task = [self, generation, completion = std::move(completion)] {
        self->finishStop(generation, completion);
    };
    if (delay > Duration::zero()) {
        service_->queue()->asyncAfter(delay, std::move(task));
    } else {
        service_->queue()->async(std::move(task));
    }
}

void SimStream::finishStop(std::uint64_t generation, const CaptureCompletion& completion) {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::stopping && generation_ == generation) {
            state_ = State::stopped;
        }
    }
    if (completion) {
        completion(std::nullopt);
    }
}

void SimStream::updateConfiguration(const SCStreamConfiguration& configuration,
                                    CaptureCompletion completion) {
    if (auto failure = service_->takeUpdateFailure()) {
        complete(Duration::zero(), std::move(completion), std::move(failure));
        return;
    }
    {
        std::lock_guard lock(mutex_);
        configuration_ = configuration;
    }
    complete(Duration::zero(), std::move(completion), std::nullopt);
}

SCStreamConfiguration SimStream::configuration() const {
    std::lock_guard lock(mutex_);
    return configuration_;
}

SimStream::State SimStream::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

int SimStream::outputCount() const {
    return outputs_.count();
}

std::uint64_t SimStream::frameCount() const {
    std::lock_guard lock(mutex_);
    return frameSequence_;
}

int SimStream::startCallCount() const {
    std::lock_guard lock(mutex_);
    return startCalls_;
}

int SimStream::stopCallCount() const {
    std::lock_guard lock(mutex_);
    return stopCalls_;
}

void SimStream::requestFrame() {
    const TimePoint now = service_->runtime()->now();
    std::lock_guard lock(mutex_);
    if (state_ != State::running) {
        return;
    }
    const Duration interval = configuration_.minimumFrameInterval;
    if (interval <= Duration::zero() || !lastFrameAt_ || now - *lastFrameAt_ >= interval) {
        emitFrameLocked();
        return;
    }
    if (framePending_) {
        // Changes within one interval make one frame.
        return;
    }
    framePending_ = true;
    std::weak_ptr<SimStream> weak = weak_from_this();
    pendingFrame_ = service_->queue()->asyncAfter(*lastFrameAt_ + interval - now, [weak] {
        if (auto self = weak.lock()) {
            {
                std::lock_guard inner(self->mutex_);
                self->framePending_ = false;
            }
            self->requestFrame();
        }
    });
}

void SimStream::emitFrameLocked() {
    const TimePoint now = service_->runtime()->now();
    lastFrameAt_ = now;
    const std::uint64_t sequence = ++frameSequence_;
    std::uint32_t width = configuration_.width;
    std::uint32_t height = configuration_.height;
    if (width == 0 || height == 0) {
        // No size configured: the window's size in pixels of its display.
        width = 1;
        height = 1;
        if (auto desktop = service_->desktop()) {
            if (auto window = desktop->window(windowID())) {
                double scale = 1.0;
                if (auto display = desktop->displayContaining(window->frame)) {
                    scale = display->scale;
                }
                width = static_cast<std::uint32_t>(
                    std::max(1.0, std::ceil(window->frame.width() * scale)));
                height = static_cast<std::uint32_t>(
                    std::max(1.0, std::ceil(window->frame.height() * scale)));
            }
        }
    }
    VideoFrameRef frame =
        std::make_shared<const SimVideoFrame>(windowID(), sequence, width, height, now);
    // Handed in under the stream's lock, so frames reach each queue in sequence order.
    outputs_.deliver(frame, weak_from_this());
}

void SimStream::stopFramesLocked() {
    pendingFrame_.cancel();
    framePending_ = false;
    if (frameTimer_) {
        frameTimer_->cancel();
        frameTimer_.reset();
    }
}

void SimStream::startFrameTimerLocked(double fps) {
    if (frameTimer_) {
        frameTimer_->cancel();
        frameTimer_.reset();
    }
    if (fps <= 0 || state_ != State::running) {
        return;
    }
    std::weak_ptr<SimStream> weak = weak_from_this();
    auto service = service_;
    frameTimer_ = std::make_unique<RepeatingTimer>(
        service_->queue(), seconds(1.0 / fps), Duration::zero(), [weak, service] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            // A minimised window does not change, so it makes no frames.
            auto desktop = service->desktop();
            auto window = desktop ? desktop->window(self->windowID()) : std::nullopt;
            if (window && window->isMinimized) {
                return;
            }
            self->requestFrame();
        });
}

void SimStream::setSourceFrameRate(double fps) {
    std::lock_guard lock(mutex_);
    startFrameTimerLocked(fps);
}

void SimStream::stopWithError(const Error& error) {
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::running) {
            return;
        }
        state_ = State::stopped;
        ++generation_;
        stopFramesLocked();
    }
    service_->queue()->async([self = shared_from_this(), delegate = delegate_, error] {
        if (auto strong = delegate.lock()) {
            strong->didStopWithError(*self, error);
        }
    });
}

}  // namespace tovalo::sim
