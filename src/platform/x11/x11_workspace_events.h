#pragma once

// Posts the workspace notifications that X alone can tell: the active desktop changed
// (_NET_CURRENT_DESKTOP) and an application terminated (a process that owned client windows
// ended). Each owner process is watched through a pidfd, gathered in one epoll descriptor that
// the main loop watches beside the X connection (terminationFileDescriptor(), then
// processTerminations()); where no pidfd can be opened, the process counts as terminated once
// all its windows are gone and it no longer runs. Each termination is posted once, with the
// pid under SystemNotification::processIdentifierKey. Main thread only; owned by the
// composition root.

#include <map>
#include <memory>
#include <optional>
#include <set>

#include "base/notification_center.h"
#include "base/subscription.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_event_source.h"
#include "platform/x11/x11_workspace.h"

namespace tovalo::x11 {

class X11WorkspaceEvents {
  public:
    // `workspace` may be null; when given, its cached application is marked terminated first.
    X11WorkspaceEvents(std::shared_ptr<X11EventSource> events,
                       std::shared_ptr<const ClientWindowReader> reader,
                       std::shared_ptr<X11Workspace> workspace,
                       std::shared_ptr<NotificationCenter> workspaceCenter);
    ~X11WorkspaceEvents();
    X11WorkspaceEvents(const X11WorkspaceEvents&) = delete;
    X11WorkspaceEvents& operator=(const X11WorkspaceEvents&) = delete;

    // Readable when a watched process ended; -1 when epoll is unavailable.
    int terminationFileDescriptor() const { return epoll_; }
    // Posts the terminations the descriptor reported; returns how many.
    std::size_t processTerminations();

    // Processes currently watched (owners of client windows).
    std::set<ProcessID> watchedProcesses() const;

  private:
    void handleRootProperty(const xcb_generic_event_t& event);
    void refreshClients();
    void postTerminated(ProcessID pid);
    void forget(ProcessID pid);

    const std::shared_ptr<X11EventSource> events_;
    const std::shared_ptr<const ClientWindowReader> reader_;
    const std::shared_ptr<X11Workspace> workspace_;
    const std::shared_ptr<NotificationCenter> center_;
    Subscription rootSubscription_;
    std::optional<std::uint32_t> currentDesktop_;
    int epoll_ = -1;
    std::map<ProcessID, int> pidfds_;  // -1: no pidfd, judged by its windows
    std::map<xcb_window_t, ProcessID> owners_;
    // Terminations posted whose windows are still listed: not watched again.
    std::set<ProcessID> posted_;
};

}  // namespace tovalo::x11
