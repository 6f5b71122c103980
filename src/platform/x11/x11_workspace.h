#pragma once

// The X desktop's workspace: the running applications are the processes owning managed client
// windows (grouped by _NET_WM_PID, in front-to-back order of their front-most window), each
// resolved to its desktop entry; installed applications are the desktop entries, whose .desktop
// file is the application's path; file icons come from the icon theme. Usable from any thread.
// Owned by the composition root.

#include <map>
#include <memory>
#include <mutex>

#include "platform/workspace.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_desktop_entry_index.h"
#include "platform/x11/x11_running_application.h"

namespace tovalo::x11 {

class X11Workspace final : public Workspace {
  public:
    X11Workspace(std::shared_ptr<const ClientWindowReader> reader,
                 std::shared_ptr<const DesktopEntryIndex> index);

    std::vector<RunningApplicationRef> runningApplications() const override;
    std::vector<RunningApplicationRef> runningApplications(
        const std::string& bundleIdentifier) const override;
    // Nullptr when the process owns no client window or is gone.
    RunningApplicationRef runningApplication(ProcessID pid) const override;
    // The .desktop file of the entry with that Name (else that id).
    std::optional<std::string> fullPathForApplication(const std::string& name) const override;
    // The .desktop file of that desktop-file id.
    std::optional<std::string> pathForApplication(
        const std::string& bundleIdentifier) const override;
    // A .desktop file: its application's icon; a folder, an executable or another file: the
    // theme's generic icon for it.
    ImageRef iconForFile(const std::string& path) const override;
    // "app" (or "application"): the generic application icon; anything else a generic file icon.
    ImageRef iconForFileType(const std::string& type) const override;

    // Marks the cached application of `pid` terminated and forgets it (called when the process
    // ended).
    void applicationTerminated(ProcessID pid);

  private:
    std::shared_ptr<X11RunningApplication> applicationFor(const ClientWindowInfo& window) const;

    const std::shared_ptr<const ClientWindowReader> reader_;
    const std::shared_ptr<const DesktopEntryIndex> index_;
    mutable std::mutex mutex_;
    mutable std::map<ProcessID, std::shared_ptr<X11RunningApplication>> applications_;
};

}  // namespace tovalo::x11
