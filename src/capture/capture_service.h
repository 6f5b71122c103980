#pragma once

// Port: the screen-capture service. It lists capturable content, captures one window into a
// stream of frames and answers the screen-recording permission. Implementations: the X11 backend
// (composite + damage) and the simulated desktop.
//
// What callers rely on: every completion runs exactly once; frames of one output never arrive
// concurrently and arrive in order on the queue given with the output; no frame arrives on an
// output after its removal returned; a stream that ends by itself tells its delegate once.

#include <functional>
#include <memory>
#include <optional>
#include <variant>

#include "base/dispatch_queue.h"
#include "base/error.h"
#include "capture/capture_types.h"
#include "capture/video_frame.h"

namespace tovalo {

inline constexpr const char* kSCStreamErrorDomain =
    "com.apple.ScreenCaptureKit.SCStreamErrorDomain";
// The user declined capture.
inline constexpr std::int64_t kSCStreamErrorUserDeclined = -3801;
// An attempt to stop a stream that is not running.
inline constexpr std::int64_t kSCStreamErrorAttemptToStopStreamState = -3808;
// An output added twice, or removed without being added.
inline constexpr std::int64_t kSCStreamErrorInvalidParameter = -3812;

enum class PixelFormat { bgra };
enum class ColorSpace { sRGB };

// Captures one window alone, wherever it is and whatever covers it.
struct SCContentFilter {
    WindowID desktopIndependentWindow = 0;
};

struct SCStreamConfiguration {
    PixelFormat pixelFormat = PixelFormat::bgra;
    ColorSpace colorSpace = ColorSpace::sRGB;
    bool showsCursor = false;
    Duration minimumFrameInterval = Duration::zero();  // zero: as often as the source changes
    bool capturesAudio = false;
    std::uint32_t width = 0;   // pixels
    std::uint32_t height = 0;  // pixels

    friend bool operator==(const SCStreamConfiguration&, const SCStreamConfiguration&) = default;
};

class SCStream;

class SCStreamOutput {
  public:
    virtual ~SCStreamOutput() = default;
    virtual void didOutputFrame(SCStream& stream, const VideoFrameRef& frame) = 0;
};

class SCStreamDelegate {
  public:
    virtual ~SCStreamDelegate() = default;
    // The stream ended by itself (window gone, permission withdrawn, ...). Any thread.
    virtual void didStopWithError(SCStream& stream, const Error& error) = 0;
};

using CaptureCompletion = std::function<void(const std::optional<Error>&)>;

class SCStream {
  public:
    virtual ~SCStream() = default;

    // Frames for `output` will be delivered on `queue`. Fails with an error, e.g. when the
    // output was already added.
    virtual std::optional<Error> addStreamOutput(std::shared_ptr<SCStreamOutput> output,
                                                 std::shared_ptr<DispatchQueue> queue) = 0;
    // Returns once no further frame can reach `output`.
    virtual std::optional<Error> removeStreamOutput(
        const std::shared_ptr<SCStreamOutput>& output) = 0;

    // Each completes exactly once, on a thread of the service.
    virtual void startCapture(CaptureCompletion completion) = 0;
    virtual void stopCapture(CaptureCompletion completion) = 0;
    virtual void updateConfiguration(const SCStreamConfiguration& configuration,
                                     CaptureCompletion completion) = 0;
};

using ShareableContentResult = std::variant<SCShareableContent, Error>;

class CaptureService {
  public:
    virtual ~CaptureService() = default;

    // Answers once, on a thread of the service.
    virtual void getShareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly,
                                     std::function<void(ShareableContentResult)> completion) = 0;

    // The delegate is held weakly.
    virtual std::shared_ptr<SCStream> makeStream(const SCContentFilter& filter,
                                                 const SCStreamConfiguration& configuration,
                                                 std::weak_ptr<SCStreamDelegate> delegate) = 0;

    // Whether recording is allowed, without any prompt.
    virtual bool preflightScreenCaptureAccess() = 0;
    // Asks the user; the answer is whether recording is allowed now.
    virtual bool requestScreenCaptureAccess() = 0;
};

}  // namespace tovalo
