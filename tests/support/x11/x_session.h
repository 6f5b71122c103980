#pragma once

// A private X desktop for end-to-end tests: Xvfb on a free display, optionally openbox, and the
// X clients a test starts. Every process is started by pid and torn down with the session; HOME
// and XDG_RUNTIME_DIR point into a scratch folder so nothing touches the user's files.

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.h"

namespace tovalo::testing {

class XSession {
  public:
    struct Options {
        bool windowManager = true;
        std::string screen = "1920x1080x24";
    };
    struct Result {
        int exitCode = -1;
        std::string output;  // standard output
    };

    // Nullptr with `skipReason` when no X server can be started here (Xvfb missing).
    static std::unique_ptr<XSession> start(const Options& options, std::string* skipReason);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    const std::string& displayName() const { return display_; }
    const std::filesystem::path& home() const { return home_; }
    // A connection of the test's own, for checks.
    x11::Connection& connection() { return *connection_; }

    // Starts a client in the background with the session's environment.
    pid_t spawn(const std::vector<std::string>& argv);
    // Runs a command to its end and returns its exit code and output (xprop, xdotool, ...).
    Result run(const std::vector<std::string>& argv);
    // Ends a spawned client (SIGTERM, then SIGKILL) and reaps it.
    void terminate(pid_t pid);

    // Re-evaluates `predicate` after every change on the root window (its properties, windows
    // created, mapped, moved or destroyed) until it holds; false when `timeout` passes first.
    bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);
    // The top-level client window (as listed in _NET_CLIENT_LIST) whose _NET_WM_PID is `pid`.
    xcb_window_t waitForClientWindow(pid_t pid, std::chrono::milliseconds timeout);
    std::vector<xcb_window_t> clientWindows();

    // Environment handed to every child ("NAME=value").
    std::vector<std::string> environment() const;

  private:
    XSession() = default;
    pid_t spawnWithFds(const std::vector<std::string>& argv, int stdoutFd, int keepFd);
    bool startWindowManager(std::string* skipReason);

    std::filesystem::path scratch_;
    std::filesystem::path home_;
    std::string display_;
    pid_t server_ = -1;
    std::vector<pid_t> children_;
    std::shared_ptr<x11::Connection> connection_;
};

}  // namespace tovalo::testing
