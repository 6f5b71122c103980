#pragma once

// The behaviour behind the control interface that scripts reach from outside the process: list
// the windows, pin and unpin one, unpin all, and report the status. It drives the same pinned
// window manager as the interface and reads windows from the same shareable content provider, so
// a window pinned from a script is pinned exactly as one chosen in the picker. Owned by whoever
// serves the control interface; the front end (the D-Bus service) only translates.
//
// Every call is safe from any thread and returns at once; its completion runs later on the main
// queue, exactly once, never inside the call. Completions of calls still running when the
// commands object is released are dropped.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "app/control_result.h"
#include "app/control_status.h"
#include "app/control_window_row.h"
#include "base/dispatch_runtime.h"
#include "capture/filtered_shareable_content.h"
#include "capture/window_capture_context_provider.h"
#include "capture/window_server_info.h"
#include "pinning/pinned_window_manager.h"
#include "platform/bundle_info.h"

namespace tovalo {

class ControlCommands : public std::enable_shared_from_this<ControlCommands> {
  public:
    // All required.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        std::shared_ptr<PinnedWindowManager> pinnedWindowManager;
        // The capturable windows and displays.
        std::shared_ptr<WindowCaptureContextProvider> captureContextProvider;
        // Tells a window that exists but cannot be captured from an unknown ID.
        std::shared_ptr<WindowServerInfo> windowServerInfo;
        // The version for "status".
        std::shared_ptr<BundleInfo> bundleInfo;
    };

    enum class PinOutcome {
        pinned,
        // The window was pinned before; nothing changed.
        alreadyPinned,
    };

    using ListCompletion = std::function<void(ControlResult<std::vector<ControlWindowRow>>)>;
    using PinCompletion = std::function<void(ControlResult<PinOutcome>)>;
    using UnpinCompletion = std::function<void(ControlResult<std::monostate>)>;
    // The windows that were unpinned, in ascending ID order.
    using UnpinAllCompletion = std::function<void(std::vector<WindowID>)>;
    using StatusCompletion = std::function<void(ControlStatus)>;

    static std::shared_ptr<ControlCommands> create(Dependencies dependencies);

    ControlCommands(const ControlCommands&) = delete;
    ControlCommands& operator=(const ControlCommands&) = delete;

    // Fresh capturable windows plus every pinned window (a pinned source may be minimised or
    // hidden and so missing from the capturable ones), ordered by application name, then title,
    // then ID. Fails when the windows cannot be read.
    void list(ListCompletion completion);

    // Pins the window on the display it overlaps most (the first display when it overlaps none)
    // after a fresh read of the windows. A window already pinned succeeds as alreadyPinned.
    // Fails for an unknown ID, a window that cannot be captured, or unreadable windows.
    void pin(WindowID windowID, PinCompletion completion);

    // Unpins a pinned window; fails with notPinned otherwise.
    void unpin(WindowID windowID, UnpinCompletion completion);

    // Unpins every pinned window.
    void unpinAll(UnpinAllCompletion completion);

    void status(StatusCompletion completion);

  private:
    explicit ControlCommands(Dependencies dependencies);

    // On the main queue, with the content of one refresh.
    ControlResult<std::vector<ControlWindowRow>> listFrom(
        const std::optional<FilteredShareableContent>& content) const;
    ControlResult<PinOutcome> pinFrom(WindowID windowID,
                                      const std::optional<FilteredShareableContent>& content);
    // Refreshes the content and hands the first answer to `handle` on the main queue; the
    // provider may answer again (it retries while capture is declined), which is ignored.
    void withFreshContent(
        std::function<void(ControlCommands&, const std::optional<FilteredShareableContent>&)>
            handle);
    // Runs `work` with the commands in a later turn of the main queue.
    void onMainQueue(std::function<void(ControlCommands&)> work);

    const Dependencies deps_;
};

}  // namespace tovalo
