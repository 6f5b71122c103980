#pragma once

// An application on the X desktop: one process owning client windows. Its identifier, name and
// icon come from the desktop entry its windows resolve to (see ApplicationIdentity); the icon
// falls back to the most recent window's _NET_WM_ICON when the entry names no icon file found
// on disk. Activating it activates its most recent window (the front-most in stacking order).
// Made and cached per pid by X11Workspace; callers share it.

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/workspace.h"
#include "platform/x11/x11_application_identity.h"
#include "platform/x11/x11_client_window_reader.h"

namespace tovalo::x11 {

class X11RunningApplication final : public RunningApplication {
  public:
    X11RunningApplication(std::shared_ptr<const ClientWindowReader> reader, ProcessID pid,
                          ApplicationIdentity identity, std::vector<std::string> dataDirs);

    ProcessID processIdentifier() const override { return pid_; }
    std::string bundleIdentifier() const override { return identity_.desktopID; }
    std::string localizedName() const override { return identity_.name; }
    ImageRef icon() const override;
    // Marked by the workspace, or the process is gone (or a zombie).
    bool isTerminated() const override;
    // False once terminated or when it has no window left.
    bool activate(bool ignoringOtherApps) override;

    void markTerminated() { terminated_.store(true); }
    // Its client windows, front to back.
    std::vector<xcb_window_t> windows() const;

  private:
    const std::shared_ptr<const ClientWindowReader> reader_;
    const ProcessID pid_;
    const ApplicationIdentity identity_;
    const std::vector<std::string> dataDirs_;
    std::atomic<bool> terminated_{false};
    mutable std::mutex mutex_;
    mutable ImageRef icon_;
};

// True when `pid` names no running process (gone, or exited and not yet reaped).
bool isProcessGone(ProcessID pid);

}  // namespace tovalo::x11
