#include "platform/sim/sim_capture_service.h"

#include <algorithm>

#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_stream.h"

namespace tovalo::sim {

SimCaptureService::SimCaptureService(std::weak_ptr<SimDesktop> desktop,
                                     std::shared_ptr<DispatchRuntime> runtime)
    : desktop_(std::move(desktop)),
      runtime_(std::move(runtime)),
      queue_(runtime_->makeSerialQueue("SimCaptureService.queue")) {}

SCShareableContent SimCaptureService::produceContent(const SimDesktop& desktop,
                                                     bool excludingDesktopWindows,
                                                     bool onScreenWindowsOnly) const {
    SCShareableContent content;
    for (const auto& display : desktop.displays()) {
        content.displays.push_back(SCDisplay{
            display.displayID,
            display.frame,
            static_cast<std::uint32_t>(display.frame.width()),
            static_cast<std::uint32_t>(display.frame.height()),
        });
    }
    for (const auto& window : desktop.windowsFrontToBack()) {
        if (onScreenWindowsOnly && !window.isOnScreen) {
            continue;
        }
        if (excludingDesktopWindows && window.layer < 0) {
            continue;
        }
        SCWindow scWindow;
        scWindow.windowID = window.windowID;
        scWindow.frame = window.frame;
        scWindow.title = window.title;
        scWindow.isOnScreen = window.isOnScreen;
        if (auto app = desktop.app(window.ownerPID)) {
            scWindow.owningApplication = SCRunningApplication{
                app->bundleIdentifier(), app->localizedName(), app->processIdentifier()};
        }
        content.windows.push_back(std::move(scWindow));
    }
    return content;
}

void SimCaptureService::getShareableContent(
    bool excludingDesktopWindows, bool onScreenWindowsOnly,
    std::function<void(ShareableContentResult)> completion) {
    std::optional<Error> failure;
    Duration delay;
    {
        std::lock_guard lock(mutex_);
        ++contentRequests_;
        failure = std::exchange(contentFailure_, std::nullopt);
        delay = contentDelay_;
    }
    // The content is taken when the answer is produced, as the real service does.
    auto task = [self = shared_from_this(), failure = std::move(failure),
                 completion = std::move(completion), excludingDesktopWindows, onScreenWindowsOnly] {
        if (!completion) {
            return;
        }
        if (failure) {
            completion(*failure);
            return;
        }
        auto desktop = self->desktop();
        if (!desktop) {
            completion(
                Error{kSCStreamErrorDomain, kSCStreamErrorNoCaptureSource, "The desktop is gone."});
            return;
        }
        if (!desktop->isScreenRecordingAllowed()) {
            completion(Error{kSCStreamErrorDomain, kSCStreamErrorUserDeclined,
                             "The user declined screen recording."});
            return;
        }
        completion(self->produceContent(*desktop, excludingDesktopWindows, onScreenWindowsOnly));
    };
    if (delay > Duration::zero()) {
        queue_->asyncAfter(delay, std::move(task));
    } else {
        queue_->async(std::move(task));
    }
}

std::shared_ptr<SCStream> SimCaptureService::makeStream(const SCContentFilter& filter,
                                                        const SCStreamConfiguration& configuration,
                                                        std::weak_ptr<SCStreamDelegate> delegate) {
    auto stream =
        std::make_shared<SimStream>(shared_from_this(), filter, configuration, std::move(delegate));
    std::lock_guard lock(mutex_);
    std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
    streams_.push_back(stream);
    return stream;
}

bool SimCaptureService::preflightScreenCaptureAccess() {
    auto desktop = desktop_.lock();
    return desktop && desktop->isScreenRecordingAllowed();
}

bool SimCaptureService::requestScreenCaptureAccess() {
    bool grants = false;
    {
        std::lock_guard lock(mutex_);
        ++accessRequests_;
        grants = grantsOnRequest_;
    }
    auto desktop = desktop_.lock();
    if (!desktop) {
        return false;
    }
    if (grants) {
        desktop->setScreenRecordingAllowed(true);
    }
    return desktop->isScreenRecordingAllowed();
}

void SimCaptureService::failNextShareableContent(Error error) {
    std::lock_guard lock(mutex_);
    contentFailure_ = std::move(error);
}

void SimCaptureService::setShareableContentDelay(Duration delay) {
    std::lock_guard lock(mutex_);
    contentDelay_ = delay;
}

void SimCaptureService::failNextStart(Error error) {
    std::lock_guard lock(mutex_);
    startFailure_ = std::move(error);
}

void SimCaptureService::failNextStop(Error error) {
    std::lock_guard lock(mutex_);
    stopFailure_ = std::move(error);
}

void SimCaptureService::failNextUpdate(Error error) {
    std::lock_guard lock(mutex_);
    updateFailure_ = std::move(error);
}

void SimCaptureService::setStartDelay(Duration delay) {
    std::lock_guard lock(mutex_);
    startDelay_ = delay;
}

void SimCaptureService::setStopDelay(Duration delay) {
    std::lock_guard lock(mutex_);
    stopDelay_ = delay;
}

void SimCaptureService::setGrantsOnRequest(bool grants) {
    std::lock_guard lock(mutex_);
    grantsOnRequest_ = grants;
}

std::optional<Error> SimCaptureService::takeStartFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(startFailure_, std::nullopt);
}

std::optional<Error> SimCaptureService::takeStopFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(stopFailure_, std::nullopt);
}

std::optional<Error> SimCaptureService::takeUpdateFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(updateFailure_, std::nullopt);
}

Duration SimCaptureService::startDelay() const {
    std::lock_guard lock(mutex_);
    return startDelay_;
}

Duration SimCaptureService::stopDelay() const {
    std::lock_guard lock(mutex_);
    return stopDelay_;
}

void SimCaptureService::deliverFrame(WindowID windowID) {
    for (const auto& stream : streams(windowID)) {
        stream->requestFrame();
    }
}

void SimCaptureService::setFrameRate(double fps) {
    {
        std::lock_guard lock(mutex_);
        frameRate_ = std::max(0.0, fps);
    }
    for (const auto& stream : streams()) {
        stream->setSourceFrameRate(fps);
    }
}

double SimCaptureService::frameRate() const {
    std::lock_guard lock(mutex_);
    return frameRate_;
}

void SimCaptureService::stopStreamWithError(WindowID windowID, const Error& error) {
    for (const auto& stream : streams(windowID)) {
        stream->stopWithError(error);
    }
}

void SimCaptureService::handleWindowChange(WindowID windowID, SimWindowChange change) {
    if (change == SimWindowChange::closed) {
        stopStreamWithError(windowID, Error{kSCStreamErrorDomain, kSCStreamErrorNoCaptureSource,
                                            "The captured window was closed."});
    }
}

std::vector<std::shared_ptr<SimStream>> SimCaptureService::streams() const {
    std::vector<std::shared_ptr<SimStream>> result;
    std::lock_guard lock(mutex_);
    for (const auto& weak : streams_) {
        if (auto stream = weak.lock()) {
            result.push_back(std::move(stream));
        }
    }
    return result;
}

std::vector<std::shared_ptr<SimStream>> SimCaptureService::streams(WindowID windowID) const {
    auto all = streams();
    std::erase_if(all, [&](const auto& stream) { return stream->windowID() != windowID; });
    return all;
}

int SimCaptureService::runningStreamCount(WindowID windowID) const {
    auto matching = streams(windowID);
    return static_cast<int>(
        std::count_if(matching.begin(), matching.end(), [](auto& s) { return s->isRunning(); }));
}

int SimCaptureService::runningStreamCount() const {
    auto all = streams();
    return static_cast<int>(
        std::count_if(all.begin(), all.end(), [](auto& s) { return s->isRunning(); }));
}

int SimCaptureService::activeStreamCount(WindowID windowID) const {
    auto matching = streams(windowID);
    return static_cast<int>(std::count_if(matching.begin(), matching.end(), [](auto& s) {
        return s->state() != SimStream::State::stopped;
    }));
}

int SimCaptureService::activeStreamCount() const {
    auto all = streams();
    return static_cast<int>(std::count_if(
        all.begin(), all.end(), [](auto& s) { return s->state() != SimStream::State::stopped; }));
}

int SimCaptureService::shareableContentRequestCount() const {
    std::lock_guard lock(mutex_);
    return contentRequests_;
}

int SimCaptureService::accessRequestCount() const {
    std::lock_guard lock(mutex_);
    return accessRequests_;
}

}  // namespace tovalo::sim
