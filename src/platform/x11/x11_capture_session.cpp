#include "platform/x11/x11_capture_session.h"

#include <xcb/shm.h>

#include "platform/x11/x11_frame_image.h"
#include "platform/x11/x11_frame_scaler.h"
#include "platform/x11/x11_image_read.h"
#include "platform/x11/x11_surface_frame.h"

namespace tovalo::x11 {

std::unique_ptr<CaptureSession> CaptureSession::create(CaptureEngine& engine, WindowID window,
                                                       const SCStreamConfiguration& configuration,
                                                       Callbacks callbacks, Error* error) {
    auto target = engine.target(window, error);
    if (!target) {
        return nullptr;
    }
    return std::unique_ptr<CaptureSession>(
        new CaptureSession(engine, std::move(target), configuration, std::move(callbacks)));
}

CaptureSession::CaptureSession(CaptureEngine& engine, std::shared_ptr<CaptureTarget> target,
                               const SCStreamConfiguration& configuration, Callbacks callbacks)
    : engine_(engine),
      target_(std::move(target)),
      pool_(std::make_shared<FramePool>(engine.sharedConnection(), engine.canShareMemory())),
      starved_(std::make_shared<std::atomic<bool>>(false)),
      configuration_(configuration),
      callbacks_(std::move(callbacks)) {
    target_->addListener(this);
}

CaptureSession::~CaptureSession() {
    target_->removeListener(this);
    paceTimer_.cancel();
    pool_->close();
}

void CaptureSession::activate(CaptureEngine::SessionID id) {
    id_ = id;
    std::weak_ptr<CaptureEngine> engine = engine_.weak_from_this();
    // A consumer gave a buffer back while capture waited for one: try again.
    pool_->setReturnHook([engine, id, starved = starved_] {
        if (!starved->exchange(false)) {
            return;
        }
        if (auto strong = engine.lock()) {
            strong->post([raw = strong.get(), id](bool onServiceThread) {
                if (!onServiceThread) {
                    return;
                }
                if (CaptureSession* session = raw->session(id)) {
                    session->schedule();
                }
            });
        }
    });
}

void CaptureSession::reconfigure(const SCStreamConfiguration& configuration) {
    const bool resized = configuration.width != configuration_.width ||
                         configuration.height != configuration_.height;
    configuration_ = configuration;
    if (resized) {
        // The consumer wants the picture at its new size even if nothing else changes.
        requestFrame();
    }
}

void CaptureSession::requestFrame() {
    if (ended_) {
        return;
    }
    dirty_ = true;
    schedule();
}

void CaptureSession::end(const Error& error) {
    if (ended_) {
        return;
    }
    ended_ = true;
    paceTimer_.cancel();
    if (callbacks_.onEnded) {
        callbacks_.onEnded(error);
    }
}

std::optional<TimePoint> CaptureSession::pacedUntil() const {
    const Duration interval = configuration_.minimumFrameInterval;
    if (ended_ || !lastFrameAt_ || interval <= Duration::zero()) {
        return std::nullopt;
    }
    const TimePoint until = *lastFrameAt_ + interval;
    if (until <= engine_.runtime().now()) {
        return std::nullopt;
    }
    return until;
}

void CaptureSession::targetChanged() {
    requestFrame();
}

void CaptureSession::targetGone(const Error& error) {
    end(error);
}

void CaptureSession::schedule() {
    // A change while reading is picked up once the read is done.
    if (ended_ || !dirty_ || timerPending_ || capturing_ || !target_->isReadable()) {
        return;
    }
    const TimePoint now = engine_.runtime().now();
    const Duration interval = configuration_.minimumFrameInterval;
    if (interval > Duration::zero() && lastFrameAt_ && now - *lastFrameAt_ < interval) {
        timerPending_ = true;
        paceTimer_ =
            engine_.scheduleAfter(*lastFrameAt_ + interval - now, [engine = &engine_, id = id_] {
                if (CaptureSession* session = engine->session(id)) {
                    session->timerPending_ = false;
                    session->schedule();
                }
            });
        return;
    }
    capture();
}

void CaptureSession::captureSurface() {
    // Nothing is read: the frame is the window's picture on the server. Events already here
    // (the window's end, a resize) still decide whether it may be shown.
    engine_.dispatchQueuedEvents();
    dirty_ = false;
    if (ended_ || !target_->isReadable()) {
        return;
    }
    target_->takeChanges();
    const TimePoint now = engine_.runtime().now();
    lastFrameAt_ = now;
    VideoFrameRef frame = std::make_shared<const SurfaceFrame>(target_->namedPixmap(), now);
    if (callbacks_.onFrame) {
        callbacks_.onFrame(frame);
    }
    schedule();
}

void CaptureSession::capture() {
    if (engine_.frameDelivery() == FrameDelivery::serverSurfaces) {
        captureSurface();
        return;
    }
    const std::uint32_t sourceWidth = target_->width();
    const std::uint32_t sourceHeight = target_->height();
    const std::uint32_t width = configuration_.width != 0 ? configuration_.width : sourceWidth;
    const std::uint32_t height = configuration_.height != 0 ? configuration_.height : sourceHeight;
    if (sourceWidth == 0 || sourceHeight == 0 || width == 0 || height == 0) {
        return;
    }
    auto buffer = pool_->acquire(static_cast<std::size_t>(width) * height * 4);
    if (!buffer) {
        // All buffers are with consumers; the first one back asks again.
        starved_->store(true);
        return;
    }
    capturing_ = true;
    dirty_ = false;
    const bool scaled = width != sourceWidth || height != sourceHeight;
    const std::size_t sourceBytes = static_cast<std::size_t>(sourceWidth) * sourceHeight * 4;
    if (scaled && (!scratch_ || scratch_->size() != sourceBytes)) {
        scratch_.reset();
        scratch_ = ShmSegment::create(engine_.sharedConnection(), sourceBytes,
                                      engine_.canShareMemory(), nullptr);
    }
    const ShmSegment* into = scaled ? scratch_.get() : buffer.get();
    target_->takeChanges();
    bool ok = into != nullptr && read(*into, sourceWidth, sourceHeight);
    if (ok) {
        // Events that came before the pixels (the window's end, a resize) decide whether the
        // picture may still be shown: a named pixmap outlives its window.
        engine_.dispatchQueuedEvents();
        ok = !ended_ && target_->isReadable() && target_->width() == sourceWidth &&
             target_->height() == sourceHeight;
    }
    if (ok && scaled) {
        ok = scalePixels(
            PixelView{scratch_->data(), sourceWidth, sourceHeight,
                      static_cast<std::size_t>(sourceWidth) * 4},
            PixelView{buffer->data(), width, height, static_cast<std::size_t>(width) * 4});
    }
    capturing_ = false;
    if (!ok) {
        pool_->giveBack(std::move(buffer));
        schedule();
        return;
    }
    const TimePoint now = engine_.runtime().now();
    lastFrameAt_ = now;
    VideoFrameRef frame =
        std::make_shared<const FrameImage>(pool_, std::move(buffer), width, height, now);
    if (callbacks_.onFrame) {
        callbacks_.onFrame(frame);
    }
    schedule();
}

bool CaptureSession::read(const ShmSegment& into, std::uint32_t width, std::uint32_t height) {
    Connection& connection = engine_.connection();
    const auto w = static_cast<std::uint16_t>(width);
    const auto h = static_cast<std::uint16_t>(height);
    const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
    if (into.size() < bytes) {
        return false;
    }
    xcb_generic_error_t* rawError = nullptr;
    if (into.segment() != XCB_NONE) {
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            connection.get(),
            xcb_shm_get_image(connection.get(), target_->pixmap(), 0, 0, w, h, ~0u,
                              XCB_IMAGE_FORMAT_Z_PIXMAP, into.segment(), 0),
            &rawError));
        Reply<xcb_generic_error_t> error(rawError);
        return reply && !error;
    }
    return readZPixmap(connection.get(), target_->pixmap(), w, h, into.data());
}

}  // namespace tovalo::x11
