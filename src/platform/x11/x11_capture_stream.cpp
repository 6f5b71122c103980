#include "platform/x11/x11_capture_stream.h"

#include <algorithm>

#include "platform/x11/x11_capture_errors.h"
#include "platform/x11/x11_capture_session.h"

namespace tovalo::x11 {
namespace {

Error serviceGone() {
    return captureError(kCaptureErrorNoCaptureSource, "The capture service has ended.");
}

}  // namespace

X11CaptureStream::X11CaptureStream(std::shared_ptr<CaptureEngine> engine, SCContentFilter filter,
                                   SCStreamConfiguration configuration,
                                   std::weak_ptr<SCStreamDelegate> delegate)
    : engine_(std::move(engine)),
      filter_(filter),
      delegate_(std::move(delegate)),
      configuration_(configuration) {}

X11CaptureStream::~X11CaptureStream() {
    CaptureEngine::SessionID session = 0;
    {
        std::lock_guard lock(mutex_);
        session = session_;
    }
    if (session != 0) {
        // Dropped while running: the capture ends without telling anyone.
        engine_->post([engine = engine_.get(), session](bool onServiceThread) {
            if (onServiceThread) {
                engine->endSession(session);
            }
        });
    }
}

std::optional<Error> X11CaptureStream::addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                                       std::shared_ptr<DispatchQueue> queue) {
    return outputs_.add(std::move(output), std::move(queue));
}

std::optional<Error> X11CaptureStream::removeStreamOutput(
    const std::shared_ptr<SCStreamOutput>& output) {
    return outputs_.remove(output);
}

void X11CaptureStream::startCapture(CaptureCompletion completion) {
    // The pending command keeps the stream alive, so it completes even if the caller lets go.
    engine_->post([self = shared_from_this(), completion = std::move(completion)](bool onService) {
        if (!onService) {
            if (completion) {
                completion(serviceGone());
            }
            return;
        }
        self->startOnService(completion);
    });
}

void X11CaptureStream::startOnService(const CaptureCompletion& completion) {
    SCStreamConfiguration configuration;
    {
        std::lock_guard lock(mutex_);
        if (session_ != 0) {
            if (completion) {
                completion(captureError(kCaptureErrorAttemptToStartStreamState,
                                        "The stream is already running."));
            }
            return;
        }
        configuration = configuration_;
    }
    std::weak_ptr<X11CaptureStream> weak = weak_from_this();
    auto id = std::make_shared<CaptureEngine::SessionID>(0);
    CaptureSession::Callbacks callbacks;
    callbacks.onFrame = [weak](const VideoFrameRef& frame) {
        if (auto self = weak.lock()) {
            // Frames come one at a time from the service thread, so they stay in order.
            self->outputs_.deliver(frame, self->weak_from_this());
        }
    };
    callbacks.onEnded = [weak, id](const Error& error) {
        if (auto self = weak.lock()) {
            self->sessionEnded(*id, error);
        }
    };
    Error error;
    auto session =
        CaptureSession::create(*engine_, windowID(), configuration, std::move(callbacks), &error);
    if (!session) {
        if (completion) {
            completion(error);
        }
        return;
    }
    CaptureSession* raw = session.get();
    *id = engine_->addSession(std::move(session));
    raw->activate(*id);
    {
        std::lock_guard lock(mutex_);
        session_ = *id;
        pool_ = raw->pool();
    }
    if (completion) {
        completion(std::nullopt);
    }
    // The picture as it is now; later frames come with changes. Looked up again because the
    // completion may have stopped the stream already.
    if (CaptureSession* running = engine_->session(*id)) {
        running->requestFrame();
    }
}

void X11CaptureStream::stopCapture(CaptureCompletion completion) {
    engine_->post([self = shared_from_this(), completion = std::move(completion)](bool onService) {
        if (!onService) {
            // The service ended every capture on its way out.
            CaptureEngine::SessionID session = 0;
            {
                std::lock_guard lock(self->mutex_);
                session = std::exchange(self->session_, 0);
            }
            if (completion) {
                completion(session != 0 ? std::nullopt
                                        : std::optional<Error>(
                                              captureError(kSCStreamErrorAttemptToStopStreamState,
                                                           "The stream is not running.")));
            }
            return;
        }
        self->stopOnService(completion);
    });
}

void X11CaptureStream::stopOnService(const CaptureCompletion& completion) {
    CaptureEngine::SessionID session = 0;
    {
        std::lock_guard lock(mutex_);
        session = std::exchange(session_, 0);
    }
    if (session == 0) {
        if (completion) {
            completion(
                captureError(kSCStreamErrorAttemptToStopStreamState, "The stream is not running."));
        }
        return;
    }
    // No frame is produced after this; frames already queued reach outputs still added.
    engine_->endSession(session);
    if (completion) {
        completion(std::nullopt);
    }
}

void X11CaptureStream::updateConfiguration(const SCStreamConfiguration& configuration,
                                           CaptureCompletion completion) {
    {
        std::lock_guard lock(mutex_);
        configuration_ = configuration;
    }
    engine_->post([self = shared_from_this(), configuration,
                   completion = std::move(completion)](bool onService) {
        if (onService) {
            CaptureEngine::SessionID session = 0;
            {
                std::lock_guard lock(self->mutex_);
                session = self->session_;
            }
            if (CaptureSession* running = self->engine_->session(session)) {
                running->reconfigure(configuration);
            }
        }
        if (completion) {
            completion(std::nullopt);
        }
    });
}

bool X11CaptureStream::isRunning() const {
    std::lock_guard lock(mutex_);
    return session_ != 0;
}

int X11CaptureStream::peakFrameBufferCount() const {
    std::lock_guard lock(mutex_);
    return pool_ ? pool_->peakBufferCount() : 0;
}

int X11CaptureStream::createdFrameBufferCount() const {
    std::lock_guard lock(mutex_);
    return pool_ ? pool_->createdBufferCount() : 0;
}

void X11CaptureStream::sessionEnded(CaptureEngine::SessionID id, const Error& error) {
    {
        std::lock_guard lock(mutex_);
        if (id == 0 || session_ != id) {
            return;
        }
        session_ = 0;
    }
    // Released later: the session is still on the call stack.
    engine_->post([engine = engine_.get(), id](bool onServiceThread) {
        if (onServiceThread) {
            engine->endSession(id);
        }
    });
    if (auto delegate = delegate_.lock()) {
        delegate->didStopWithError(*this, error);
    }
}

}  // namespace tovalo::x11
