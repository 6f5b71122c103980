#pragma once

// The simulated desktop's accessibility service. Application elements list their open windows
// on the current desktop ("AXWindows", front to back, minimised ones included, as the real
// service does); window elements answer "AXWindowNumber", "AXPosition" and "AXSize" (the window
// server's coordinates, so they equal the window's bounds exactly) and "AXFullScreen"; "AXRaise"
// brings the window in front. Observers hear of scripted moves, resizes, minimise/restore and
// closing. While the process is not trusted every call fails with kAXErrorAPIDisabled. Tests
// inject failures per attribute, per action and per observer creation, hide window elements,
// make elements report a stale frame and silence notifications, to exercise callers' fallbacks.
// Owned by SimDesktop.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/dispatch_runtime.h"
#include "pinning/accessibility_service.h"
#include "platform/sim/sim_ax_observer.h"
#include "platform/sim/sim_desktop.h"

namespace tovalo::sim {

inline constexpr AXError kAXErrorActionUnsupported = -25206;

class SimAccessibilityService final : public AccessibilityService,
                                      public std::enable_shared_from_this<SimAccessibilityService> {
  public:
    SimAccessibilityService(std::weak_ptr<SimDesktop> desktop,
                            std::shared_ptr<DispatchRuntime> runtime);

    // Counts the prompts asked for; the answer is the desktop's accessibility switch.
    bool isProcessTrusted(bool prompt) override;
    AXUIElementRef createApplicationElement(ProcessID pid) override;
    AXError copyAttributeValue(const AXUIElementRef& element, const std::string& attribute,
                               AXValue& value) override;
    AXError performAction(const AXUIElementRef& element, const std::string& action) override;
    // Fails with kAXErrorAPIDisabled while untrusted and kAXErrorIllegalArgument for a process
    // that is not running.
    std::unique_ptr<AXObserver> createObserver(ProcessID pid, AXObserver::Callback callback,
                                               AXError& error) override;

    // ---- Scripting ----
    // The next `count` reads of `attribute` fail with `code` (before any other check but trust).
    void failNextRead(const std::string& attribute, AXError code, int count = 1);
    // Every read of `attribute` fails with `code` until cleared with kAXErrorSuccess.
    void failReads(const std::string& attribute, AXError code);
    // The next `action` fails with `code`.
    void failNextAction(const std::string& action, AXError code);
    // The next createObserver fails with `code` (after the trust and process checks pass).
    void failNextObserverCreation(AXError code);
    // A hidden window is left out of its application's "AXWindows", as by an application that
    // does not expose it; an element already held still answers.
    void setWindowElementHidden(WindowID windowID, bool hidden);
    // The window's element reports `frame` as its "AXPosition" and "AXSize" instead of the
    // window's own frame (accessibility lagging behind the window server); nullopt clears it.
    void setElementFrameOverride(WindowID windowID, std::optional<Rect> frame);
    // While off, observers hear of no change at all (an application too busy to answer);
    // changes made meanwhile are lost, not delivered later.
    void setDeliversNotifications(bool delivers);

    // ---- Reading ----
    int promptCount() const;
    // Windows raised through "AXRaise", in order.
    std::vector<WindowID> raisedWindows() const;
    int readCount(const std::string& attribute) const;
    // Observers alive for a process (any process with pid 0).
    int observerCount(ProcessID pid = 0) const;

    // ---- For the desktop and the observers ----
    void handleWindowChange(WindowID windowID, SimWindowChange change);
    bool isTrusted() const;
    bool windowExists(WindowID windowID) const;

  private:
    struct InjectedFailure {
        AXError code = kAXErrorSuccess;
        int remaining = 0;  // negative: until cleared
    };

    std::optional<AXError> takeReadFailure(const std::string& attribute);

    const std::weak_ptr<SimDesktop> desktop_;
    const std::shared_ptr<DispatchRuntime> runtime_;

    mutable std::mutex mutex_;
    std::map<std::string, InjectedFailure> readFailures_;
    std::map<std::string, AXError> actionFailures_;
    std::map<std::string, int> readCounts_;
    std::vector<WindowID> raised_;
    std::optional<AXError> observerCreationFailure_;
    std::set<WindowID> hiddenWindows_;
    std::map<WindowID, Rect> frameOverrides_;
    bool deliversNotifications_ = true;
    std::vector<std::weak_ptr<SimAXObserver::Core>> observers_;
    int prompts_ = 0;
};

}  // namespace tovalo::sim
