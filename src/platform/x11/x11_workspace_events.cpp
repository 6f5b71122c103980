#include "platform/x11/x11_workspace_events.h"

#include <sys/epoll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/system_notifications.h"

namespace tovalo::x11 {

namespace {

int openPidfd(ProcessID pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

X11WorkspaceEvents::X11WorkspaceEvents(std::shared_ptr<X11EventSource> events,
                                       std::shared_ptr<const ClientWindowReader> reader,
                                       std::shared_ptr<X11Workspace> workspace,
                                       std::shared_ptr<NotificationCenter> workspaceCenter)
    : events_(std::move(events)),
      reader_(std::move(reader)),
      workspace_(std::move(workspace)),
      center_(std::move(workspaceCenter)),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    // Subscribe before reading, so no change falls between the read and the subscription.
    rootSubscription_ =
        events_->subscribe(events_->connection()->root(), XCB_EVENT_MASK_PROPERTY_CHANGE,
                           [this](const xcb_generic_event_t& event) { handleRootProperty(event); });
    currentDesktop_ = reader_->currentDesktop();
    refreshClients();
}

X11WorkspaceEvents::~X11WorkspaceEvents() {
    rootSubscription_.reset();
    for (const auto& [pid, fd] : pidfds_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (epoll_ >= 0) {
        ::close(epoll_);
    }
}

std::set<ProcessID> X11WorkspaceEvents::watchedProcesses() const {
    std::set<ProcessID> pids;
    for (const auto& [pid, fd] : pidfds_) {
        pids.insert(pid);
    }
    return pids;
}

void X11WorkspaceEvents::handleRootProperty(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY) {
        return;
    }
    const auto& property = reinterpret_cast<const xcb_property_notify_event_t&>(event);
    Connection& connection = *events_->connection();
    if (property.atom == connection.atom("_NET_CURRENT_DESKTOP")) {
        const auto desktop = reader_->currentDesktop();
        if (desktop != currentDesktop_) {
            currentDesktop_ = desktop;
            center_->post(SystemNotification::activeSpaceDidChange);
        }
    } else if (property.atom == connection.atom("_NET_CLIENT_LIST")) {
        refreshClients();
    }
}

void X11WorkspaceEvents::refreshClients() {
    Connection& connection = *events_->connection();
    auto clients =
        reader_->cardinals(connection.root(), connection.atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW)
            .value_or(std::vector<std::uint32_t>{});
    const xcb_atom_t pidAtom = connection.atom("_NET_WM_PID");
    std::map<xcb_window_t, ProcessID> owners;
    for (const auto window : clients) {
        if (auto known = owners_.find(window); known != owners_.end()) {
            owners.emplace(window, known->second);
            continue;
        }
        const auto pid = reader_->cardinals(window, pidAtom, XCB_ATOM_CARDINAL);
        if (!pid || pid->empty() || static_cast<ProcessID>(pid->front()) <= 0) {
            continue;
        }
        const auto owner = static_cast<ProcessID>(pid->front());
        owners.emplace(window, owner);
        if (!pidfds_.contains(owner) && !posted_.contains(owner)) {
            int fd = openPidfd(owner);
            if (fd >= 0 && epoll_ >= 0) {
                epoll_event watch{};
                watch.events = EPOLLIN;
                watch.data.u64 = static_cast<std::uint64_t>(owner);
                if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &watch) != 0) {
                    ::close(fd);
                    fd = -1;
                }
            } else if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
            pidfds_.emplace(owner, fd);
        }
    }
    owners_ = std::move(owners);
    // A posted process whose windows are all gone may come back as a new process of that pid.
    std::erase_if(posted_, [this](ProcessID pid) {
        for (const auto& [window, owner] : owners_) {
            if (owner == pid) {
                return false;
            }
        }
        return true;
    });
    // Owners without a pidfd whose windows are all gone: terminated when the process is.
    std::vector<ProcessID> ended;
    for (const auto& [pid, fd] : pidfds_) {
        if (fd >= 0) {
            continue;
        }
        bool hasWindow = false;
        for (const auto& [window, owner] : owners_) {
            hasWindow = hasWindow || owner == pid;
        }
        if (!hasWindow) {
            ended.push_back(pid);
        }
    }
    for (const auto pid : ended) {
        const bool gone = isProcessGone(pid);
        forget(pid);
        if (gone) {
            postTerminated(pid);
        }
    }
}

std::size_t X11WorkspaceEvents::processTerminations() {
    if (epoll_ < 0) {
        return 0;
    }
    std::size_t count = 0;
    epoll_event ready[16];
    for (;;) {
        const int n = ::epoll_wait(epoll_, ready, 16, 0);
        if (n <= 0) {
            break;
        }
        for (int i = 0; i < n; ++i) {
            const auto pid = static_cast<ProcessID>(ready[i].data.u64);
            forget(pid);
            postTerminated(pid);
            ++count;
        }
    }
    return count;
}

void X11WorkspaceEvents::forget(ProcessID pid) {
    auto it = pidfds_.find(pid);
    if (it == pidfds_.end()) {
        return;
    }
    if (it->second >= 0) {
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, it->second, nullptr);
        ::close(it->second);
    }
    pidfds_.erase(it);
}

void X11WorkspaceEvents::postTerminated(ProcessID pid) {
    if (!posted_.insert(pid).second) {
        return;
    }
    if (workspace_) {
        workspace_->applicationTerminated(pid);
    }
    center_->post(SystemNotification::didTerminateApplication, {},
                  ValueMap{{SystemNotification::processIdentifierKey, Value(pid)}});
}

}  // namespace tovalo::x11
