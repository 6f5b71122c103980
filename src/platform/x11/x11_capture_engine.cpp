#include "platform/x11/x11_capture_engine.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/composite.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>
#include <vector>

#include "base/debug_log.h"
#include "platform/x11/x11_capture_errors.h"
#include "platform/x11/x11_capture_session.h"
#include "platform/x11/x11_capture_target.h"

namespace tovalo::x11 {
namespace {

// Composite 0.2 names window pixmaps; DAMAGE 1.1 is the version the server speaks.
bool hasComposite(Connection& connection) {
    Reply<xcb_composite_query_version_reply_t> reply(xcb_composite_query_version_reply(
        connection.get(), xcb_composite_query_version(connection.get(), 0, 4), nullptr));
    return reply && (reply->major_version > 0 || reply->minor_version >= 2);
}

bool hasDamage(Connection& connection) {
    // The server refuses DAMAGE requests from a client that did not ask for a version first.
    Reply<xcb_damage_query_version_reply_t> reply(xcb_damage_query_version_reply(
        connection.get(), xcb_damage_query_version(connection.get(), 1, 1), nullptr));
    return reply != nullptr;
}

// Memory passed as a descriptor needs MIT-SHM 1.2.
bool hasShmDescriptors(Connection& connection) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection.get(), &xcb_shm_id);
    if (!extension || !extension->present) {
        return false;
    }
    Reply<xcb_shm_query_version_reply_t> reply(xcb_shm_query_version_reply(
        connection.get(), xcb_shm_query_version(connection.get()), nullptr));
    return reply &&
           (reply->major_version > 1 || (reply->major_version == 1 && reply->minor_version >= 2));
}

// poll()'s time-out for `deadline`, rounded up (waking early would only go round again) and at
// most a minute (the loop then simply waits again).
int pollTimeoutUntil(TimePoint deadline, TimePoint now) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    return static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, 60'000));
}

}  // namespace

std::shared_ptr<CaptureEngine> CaptureEngine::start(const std::string& displayName,
                                                    std::shared_ptr<DispatchRuntime> runtime,
                                                    Error* error, FrameDelivery delivery) {
    auto connection = Connection::open(displayName, error);
    if (!connection) {
        return nullptr;
    }
    const xcb_query_extension_reply_t* damage =
        xcb_get_extension_data(connection->get(), &xcb_damage_id);
    const xcb_query_extension_reply_t* composite =
        xcb_get_extension_data(connection->get(), &xcb_composite_id);
    if (!damage || !damage->present || !composite || !composite->present ||
        !hasComposite(*connection) || !hasDamage(*connection)) {
        if (error) {
            *error = captureError(kCaptureErrorNoCaptureSource,
                                  "The X server lacks the Composite or DAMAGE extension.");
        }
        return nullptr;
    }
    const bool shm = hasShmDescriptors(*connection);
    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        if (error) {
            *error = Error{kX11ErrorDomain, errno, "eventfd failed"};
        }
        return nullptr;
    }
    std::shared_ptr<CaptureEngine> engine(new CaptureEngine(
        std::move(connection), std::move(runtime), wakeFd, damage->first_event, shm, delivery));
    // The thread keeps the engine alive until it has finished.
    engine->thread_ = std::thread([engine] { engine->run(); });
    return engine;
}

CaptureEngine::CaptureEngine(std::shared_ptr<Connection> connection,
                             std::shared_ptr<DispatchRuntime> runtime, int wakeFd,
                             std::uint8_t damageEventBase, bool canShareMemory,
                             FrameDelivery delivery)
    : connection_(std::move(connection)),
      runtime_(std::move(runtime)),
      wakeFd_(wakeFd),
      damageEventBase_(damageEventBase),
      canShareMemory_(canShareMemory),
      delivery_(delivery),
      waitsOnRealClock_(dynamic_cast<const SystemClock*>(&runtime_->clock()) != nullptr) {}

CaptureEngine::~CaptureEngine() {
    if (thread_.joinable()) {
        // Only reachable when the last owner let go on the service thread itself.
        thread_.detach();
    }
    close(wakeFd_);
}

bool CaptureEngine::isServiceThread() const {
    return threadId_.load() == std::this_thread::get_id();
}

void CaptureEngine::wake() {
    const std::uint64_t one = 1;
    // A full counter already wakes the thread, so a failed write loses nothing.
    [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
}

void CaptureEngine::post(Command command) {
    {
        std::lock_guard lock(mutex_);
        if (!closed_) {
            commands_.push_back(std::move(command));
            wake();
            return;
        }
    }
    command(false);
}

void CaptureEngine::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        wake();
    }
    if (thread_.joinable() && !isServiceThread()) {
        thread_.join();
    }
}

void CaptureEngine::waitUntilIdle() {
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    post([this, done](bool onServiceThread) {
        if (onServiceThread && !connectionLost_) {
            // The reply comes after every event the server sent before it.
            Reply<xcb_get_input_focus_reply_t> reply(xcb_get_input_focus_reply(
                connection_->get(), xcb_get_input_focus(connection_->get()), nullptr));
            dispatchQueuedEvents();
        }
        done->set_value();
    });
    future.wait();
}

void CaptureEngine::run() {
    threadId_.store(std::this_thread::get_id());
    const int xcbFd = connection_->fileDescriptor();
    for (;;) {
        dispatchEvents();
        bool closing = false;
        {
            std::lock_guard lock(mutex_);
            closing = closed_;
        }
        if (closing) {
            break;
        }
        if (runCommands()) {
            continue;
        }
        int timeout = fireLocalTimers();
        // While every stream has just taken a frame, X events (in practice the next damage
        // report) can wait until one may take the next: read then, they cost no wake-up of
        // their own. Commands are still taken at once.
        bool listen = !connectionLost_;
        if (const auto quiet = eventsCanWaitUntil()) {
            const int quietTimeout = pollTimeoutUntil(*quiet, runtime_->now());
            timeout = timeout < 0 ? quietTimeout : std::min(timeout, quietTimeout);
            listen = false;
        }
        // Requests sent without waiting for a reply (damage subtracts) leave now.
        connection_->flush();
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {xcbFd, POLLIN, 0}};
        const nfds_t count = listen ? 2 : 1;
        if (poll(fds, count, timeout) < 0 && errno != EINTR) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t counter = 0;
            [[maybe_unused]] const auto bytes = read(wakeFd_, &counter, sizeof counter);
        }
    }
    // New commands now run in place; the ones already queued still get the service.
    runCommands();
    endEverything("The capture service ended.");
    localTimers_.clear();
    targets_.clear();
    connection_->flush();
}

bool CaptureEngine::runCommands() {
    std::deque<Command> commands;
    {
        std::lock_guard lock(mutex_);
        commands.swap(commands_);
    }
    for (auto& command : commands) {
        command(true);
    }
    return !commands.empty();
}

void CaptureEngine::dispatchEvents() {
    if (connectionLost_) {
        return;
    }
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection_->get())}) {
        dispatch(event.get());
    }
    if (connection_->hasFailed()) {
        connectionLost_ = true;
        endEverything("The connection to the X server was lost.");
    }
}

void CaptureEngine::dispatchQueuedEvents() {
    while (Reply<xcb_generic_event_t> event{xcb_poll_for_queued_event(connection_->get())}) {
        dispatch(event.get());
    }
}

void CaptureEngine::dispatch(const xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == 0) {
        // Errors of unchecked requests, e.g. a damage subtract racing with the window's end;
        // the structure events that follow tell what happened.
        const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event);
        TOVALO_DEBUG_LOG("X11Capture", "X error",
                         {{"code", static_cast<std::int64_t>(error->error_code)},
                          {"major", static_cast<std::int64_t>(error->major_code)},
                          {"resource", static_cast<std::int64_t>(error->resource_id)}});
        return;
    }
    if (type == damageEventBase_ + XCB_DAMAGE_NOTIFY) {
        const auto* damage = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
        if (auto found = damageRoutes_.find(damage->damage); found != damageRoutes_.end()) {
            found->second->handleEvent(event);
        }
        return;
    }
    xcb_window_t window = XCB_NONE;
    switch (type) {
        case XCB_DESTROY_NOTIFY:
            window = reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->event;
            break;
        case XCB_UNMAP_NOTIFY:
            window = reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->event;
            break;
        case XCB_MAP_NOTIFY:
            window = reinterpret_cast<const xcb_map_notify_event_t*>(event)->event;
            break;
        case XCB_CONFIGURE_NOTIFY:
            window = reinterpret_cast<const xcb_configure_notify_event_t*>(event)->event;
            break;
        case XCB_REPARENT_NOTIFY:
            window = reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->event;
            break;
        case XCB_PROPERTY_NOTIFY:
            window = reinterpret_cast<const xcb_property_notify_event_t*>(event)->window;
            break;
        default:
            return;
    }
    if (auto found = windowRoutes_.find(window); found != windowRoutes_.end()) {
        found->second->handleEvent(event);
    }
}

std::shared_ptr<CaptureTarget> CaptureEngine::target(xcb_window_t window, Error* error) {
    if (auto found = targets_.find(window); found != targets_.end()) {
        if (auto existing = found->second.lock(); existing && !existing->isGone()) {
            return existing;
        }
    }
    if (connectionLost_) {
        if (error) {
            *error = captureError(kCaptureErrorNoCaptureSource,
                                  "The connection to the X server was lost.");
        }
        return nullptr;
    }
    auto created = CaptureTarget::open(*this, window, error);
    if (created) {
        std::erase_if(targets_, [](const auto& entry) { return entry.second.expired(); });
        targets_[window] = created;
    }
    return created;
}

void CaptureEngine::watchWindow(xcb_window_t window, CaptureTarget* target) {
    windowRoutes_[window] = target;
}

void CaptureEngine::unwatchWindow(xcb_window_t window, CaptureTarget* target) {
    if (auto found = windowRoutes_.find(window);
        found != windowRoutes_.end() && found->second == target) {
        windowRoutes_.erase(found);
    }
}

void CaptureEngine::watchDamage(xcb_damage_damage_t damage, CaptureTarget* target) {
    damageRoutes_[damage] = target;
}

void CaptureEngine::unwatchDamage(xcb_damage_damage_t damage) {
    damageRoutes_.erase(damage);
}

CaptureEngine::SessionID CaptureEngine::addSession(std::unique_ptr<CaptureSession> session) {
    const SessionID id = nextSessionID_++;
    sessions_.emplace(id, std::move(session));
    return id;
}

CaptureSession* CaptureEngine::session(SessionID id) const {
    auto found = sessions_.find(id);
    return found == sessions_.end() ? nullptr : found->second.get();
}

void CaptureEngine::endSession(SessionID id) {
    auto found = sessions_.find(id);
    if (found == sessions_.end()) {
        return;
    }
    // Out of the table first: the session's teardown may reach back into the engine.
    auto session = std::move(found->second);
    sessions_.erase(found);
    session.reset();
}

void CaptureEngine::endEverything(const std::string& reason) {
    auto sessions = std::move(sessions_);
    sessions_.clear();
    const Error error = captureError(kCaptureErrorNoCaptureSource, reason);
    for (auto& [id, session] : sessions) {
        session->end(error);
    }
    sessions.clear();
}

TaskHandle CaptureEngine::scheduleAfter(Duration delay, std::function<void()> task) {
    CancellationToken token;
    const TimePoint deadline = runtime_->now() + delay;
    if (waitsOnRealClock_ && isServiceThread()) {
        // On real time the service thread's own wait is the timer: pacing fires up to 60 times
        // a second per stream, and a timer thread would add two wake-ups each time.
        localTimers_.emplace(deadline, LocalTimer{token, std::move(task)});
        return TaskHandle(token);
    }
    std::weak_ptr<CaptureEngine> weak = weak_from_this();
    runtime_->executor().scheduleAt(deadline, Duration::zero(),
                                    [weak, token, task = std::move(task)] {
                                        if (token.isCancelled()) {
                                            return;
                                        }
                                        if (auto engine = weak.lock()) {
                                            engine->post([token, task](bool onServiceThread) {
                                                if (onServiceThread && !token.isCancelled()) {
                                                    task();
                                                }
                                            });
                                        }
                                    });
    return TaskHandle(token);
}

std::optional<TimePoint> CaptureEngine::eventsCanWaitUntil() const {
    if (!waitsOnRealClock_ || sessions_.empty()) {
        return std::nullopt;
    }
    std::optional<TimePoint> earliest;
    for (const auto& [id, session] : sessions_) {
        const auto until = session->pacedUntil();
        if (!until) {
            return std::nullopt;
        }
        earliest = earliest ? std::min(*earliest, *until) : *until;
    }
    return earliest;
}

int CaptureEngine::fireLocalTimers() {
    for (;;) {
        if (localTimers_.empty()) {
            return -1;
        }
        auto first = localTimers_.begin();
        const TimePoint now = runtime_->now();
        if (first->first > now) {
            return pollTimeoutUntil(first->first, now);
        }
        LocalTimer timer = std::move(first->second);
        localTimers_.erase(first);
        if (!timer.token.isCancelled()) {
            timer.task();
        }
    }
}

}  // namespace tovalo::x11
