#include "platform/x11/x11_capture_service.h"

#include "platform/x11/x11_capture_content.h"
#include "platform/x11/x11_capture_errors.h"
#include "platform/x11/x11_capture_stream.h"

namespace tovalo::x11 {

std::shared_ptr<X11CaptureService> X11CaptureService::create(
    const std::string& displayName, std::shared_ptr<DispatchRuntime> runtime, Error* error,
    FrameDelivery delivery) {
    auto engine = CaptureEngine::start(displayName, std::move(runtime), error, delivery);
    if (!engine) {
        return nullptr;
    }
    return std::shared_ptr<X11CaptureService>(new X11CaptureService(std::move(engine)));
}

X11CaptureService::X11CaptureService(std::shared_ptr<CaptureEngine> engine)
    : engine_(std::move(engine)) {}

X11CaptureService::~X11CaptureService() {
    engine_->shutdown();
}

void X11CaptureService::getShareableContent(
    bool excludingDesktopWindows, bool onScreenWindowsOnly,
    std::function<void(ShareableContentResult)> completion) {
    engine_->post([engine = engine_.get(), completion = std::move(completion),
                   excludingDesktopWindows, onScreenWindowsOnly](bool onServiceThread) {
        if (!completion) {
            return;
        }
        if (!onServiceThread || engine->connection().hasFailed()) {
            completion(
                captureError(kCaptureErrorNoCaptureSource, "The capture service has no X server."));
            return;
        }
        completion(readShareableContent(engine->connection(), excludingDesktopWindows,
                                        onScreenWindowsOnly));
    });
}

std::shared_ptr<SCStream> X11CaptureService::makeStream(const SCContentFilter& filter,
                                                        const SCStreamConfiguration& configuration,
                                                        std::weak_ptr<SCStreamDelegate> delegate) {
    return std::make_shared<X11CaptureStream>(engine_, filter, configuration, std::move(delegate));
}

void X11CaptureService::waitUntilIdle() {
    engine_->waitUntilIdle();
}

}  // namespace tovalo::x11
