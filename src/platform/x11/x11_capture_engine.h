#pragma once

// The X11 capture service's worker: its own X connection and one service thread that sleeps in
// poll() on the connection's descriptor and on an eventfd for commands, never on a timer. Every
// piece of X state of the capture (sources being captured, sessions, their buffers) is touched
// on that thread only; other threads hand it work with post(). Owned by X11CaptureService, which
// shuts it down; streams keep it alive and then find their commands refused.

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "base/cancellation.h"
#include "base/dispatch_runtime.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_frame_delivery.h"

namespace tovalo::x11 {

class CaptureSession;
class CaptureTarget;

class CaptureEngine : public std::enable_shared_from_this<CaptureEngine> {
  public:
    // `onServiceThread` is true when the command runs on the service thread; false when the
    // service has ended and the command runs in place, where it may only finish its callbacks.
    using Command = std::function<void(bool onServiceThread)>;
    using SessionID = std::uint64_t;

    // Connects to `displayName` (empty: $DISPLAY), checks the extensions capture needs and
    // starts the service thread. Nullptr with `error` filled when that fails.
    static std::shared_ptr<CaptureEngine> start(
        const std::string& displayName, std::shared_ptr<DispatchRuntime> runtime, Error* error,
        FrameDelivery delivery = FrameDelivery::clientPixels);
    ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    // Any thread. Runs `command` on the service thread, or in place once the service has ended.
    void post(Command command);
    // Ends every session (their streams stop with an error), frees the server-side resources and
    // stops the thread. Idempotent; waits for the thread unless called on it.
    void shutdown();
    // Returns once every command posted and every X event sent to the service before the call
    // have been handled. For tests, which use it instead of waiting for time to pass.
    void waitUntilIdle();

    DispatchRuntime& runtime() const { return *runtime_; }

    // ---- Service thread only ----
    Connection& connection() const { return *connection_; }
    const std::shared_ptr<Connection>& sharedConnection() const { return connection_; }
    bool canShareMemory() const { return canShareMemory_; }
    FrameDelivery frameDelivery() const { return delivery_; }
    bool isServiceThread() const;

    // The tracked source for client window `window`, shared by all sessions capturing it.
    std::shared_ptr<CaptureTarget> target(xcb_window_t window, Error* error);
    // Routes X events of `window` / `damage` to `target` (or stops routing them).
    void watchWindow(xcb_window_t window, CaptureTarget* target);
    void unwatchWindow(xcb_window_t window, CaptureTarget* target);
    void watchDamage(xcb_damage_damage_t damage, CaptureTarget* target);
    void unwatchDamage(xcb_damage_damage_t damage);
    // Handles the events xcb already holds (after a round trip), without reading the socket.
    void dispatchQueuedEvents();

    SessionID addSession(std::unique_ptr<CaptureSession> session);
    CaptureSession* session(SessionID id) const;
    void endSession(SessionID id);
    // Runs `task` on the service thread after `delay` on the runtime's clock (on real time the
    // service thread times it itself; on virtual time the runtime's timers do).
    TaskHandle scheduleAfter(Duration delay, std::function<void()> task);

  private:
    CaptureEngine(std::shared_ptr<Connection> connection, std::shared_ptr<DispatchRuntime> runtime,
                  int wakeFd, std::uint8_t damageEventBase, bool canShareMemory,
                  FrameDelivery delivery);

    void run();
    void wake();
    // Runs queued commands; false when there were none.
    bool runCommands();
    void dispatchEvents();
    void dispatch(const xcb_generic_event_t* event);
    void endEverything(const std::string& reason);
    // Runs the service thread's own timers that are due; the milliseconds until the next one
    // (-1: none).
    int fireLocalTimers();
    // On real time, until when no session could take a frame (so X events may wait); nullopt
    // when one could now.
    std::optional<TimePoint> eventsCanWaitUntil() const;

    const std::shared_ptr<Connection> connection_;
    const std::shared_ptr<DispatchRuntime> runtime_;
    const int wakeFd_;
    const std::uint8_t damageEventBase_;
    const bool canShareMemory_;
    const FrameDelivery delivery_;
    // The runtime's clock is the system's: the service thread times its own waits.
    const bool waitsOnRealClock_;

    std::mutex mutex_;
    std::deque<Command> commands_;
    bool closed_ = false;
    std::thread thread_;
    std::atomic<std::thread::id> threadId_;

    // Service thread only.
    bool connectionLost_ = false;
    std::unordered_map<xcb_window_t, std::weak_ptr<CaptureTarget>> targets_;
    std::unordered_map<xcb_window_t, CaptureTarget*> windowRoutes_;
    std::unordered_map<xcb_damage_damage_t, CaptureTarget*> damageRoutes_;
    std::map<SessionID, std::unique_ptr<CaptureSession>> sessions_;
    SessionID nextSessionID_ = 1;
    struct LocalTimer {
        CancellationToken token;
        std::function<void()> task;
    };
    std::multimap<TimePoint, LocalTimer> localTimers_;
};

}  // namespace tovalo::x11
