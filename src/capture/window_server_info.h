#pragma once

// What the window server says right now about one window, or about all of them: bounds, layer,
// alpha, sharing state, owner and memory use, read from the window-server port. Facts here may be
// newer than the capture service's cached content. Safe from any thread: every query runs on the
// one serial queue "com.tovalohq.tovalo.cgwindowinfo" (inline when the caller already runs on it,
// otherwise submitted synchronously), so all window-server reads of the program are serialised.
// Built once by the composition root and shared by the components that read windows.

#include <memory>
#include <optional>

#include "base/dispatch_queue.h"
#include "base/dispatch_runtime.h"
#include "base/geometry.h"
#include "base/value.h"
#include "capture/capture_types.h"
#include "platform/window_server.h"

namespace tovalo {

// Keys of the record windowInfo() builds, each present only when the window server supplied
// its value with the right type.
namespace WindowInfoRecordKey {
// String.
inline constexpr const char* ownerName = "ownerName";
// Signed integer.
inline constexpr const char* ownerPID = "ownerPID";
// Signed integer.
inline constexpr const char* layer = "layer";
// Floating point.
inline constexpr const char* alpha = "alpha";
// Signed integer; 0 means the window may not be shared.
inline constexpr const char* sharingState = "sharingState";
// Signed integer.
inline constexpr const char* memoryUsage = "memoryUsage";
}  // namespace WindowInfoRecordKey

class WindowServerInfo {
  public:
    static constexpr const char* queueLabel = "com.tovalohq.tovalo.cgwindowinfo";

    WindowServerInfo(std::shared_ptr<WindowServer> windowServer,
                     std::shared_ptr<DispatchRuntime> runtime);
    static std::shared_ptr<WindowServerInfo> create(std::shared_ptr<WindowServer> windowServer,
                                                    std::shared_ptr<DispatchRuntime> runtime);

    WindowServerInfo(const WindowServerInfo&) = delete;
    WindowServerInfo& operator=(const WindowServerInfo&) = delete;

    // The window's current frame in window-server coordinates; nullopt when the window server
    // does not list it or any of X, Y, Width, Height is missing or not a number.
    std::optional<Rect> windowBounds(WindowID windowID) const;

    // The window's facts under the WindowInfoRecordKey names. When none of them qualifies the
    // whole window-server record is returned instead, so callers still see what there is.
    // Numbers convert only exactly (an integral double counts as an integer, an integer as a
    // floating-point number); Booleans and strings are never numbers.
    std::optional<ValueMap> windowInfo(WindowID windowID) const;

    // The window's record exactly as the window server delivered it.
    std::optional<ValueMap> rawWindowInfo(WindowID windowID) const;

    // One record per window in the window server's order; the arguments go to the window server
    // unchanged. nullopt when it does not answer or answers something other than records.
    std::optional<ValueList> windowList(WindowListOption options, WindowID relativeTo) const;

    const std::shared_ptr<DispatchQueue>& cgWindowInfoQueue() const { return queue_; }

  private:
    // The first record listed for the window alone; runs on the caller's thread.
    std::optional<ValueMap> firstRecord(WindowID windowID) const;

    template <typename F>
    auto onQueue(F&& query) const {
        if (queue_->isCurrent()) {
            return query();
        }
        return queue_->sync(std::forward<F>(query));
    }

    const std::shared_ptr<WindowServer> windowServer_;
    const std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace tovalo
