#include "support/x11/x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>

extern char** environ;

namespace tovalo::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        const auto end = std::min(directories.find(':', start), directories.size());
        const auto candidate = std::filesystem::path(directories.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        start = end + 1;
    }
    return {};
}

// Reads until end of file or `timeout`; false on time-out.
bool readAll(int fd, std::string& out, SteadyClock::time_point deadline, bool stopAtNewline) {
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const auto got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return true;
        }
        out.append(buffer, static_cast<std::size_t>(got));
        if (stopAtNewline && out.find('\n') != std::string::npos) {
            return true;
        }
    }
}

std::vector<std::uint32_t> cardinalList(x11::Connection& connection, xcb_window_t window,
                                        const char* property, xcb_atom_t type) {
    auto* c = connection.get();
    x11::Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, connection.atom(property), type, 0, 4096), nullptr));
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    const auto count = static_cast<std::size_t>(xcb_get_property_value_length(reply.get())) / 4;
    return {values, values + count};
}

}  // namespace

std::unique_ptr<XSession> XSession::start(const Options& options, std::string* skipReason) {
    const std::string xvfb = findProgram("Xvfb");
    if (xvfb.empty()) {
        if (skipReason) {
            *skipReason = "Xvfb is not installed; run scripts/bootstrap";
        }
        return nullptr;
    }
    std::unique_ptr<XSession> session(new XSession());
    char pattern[] = "/tmp/tovalo-xsession-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        if (skipReason) {
            *skipReason = "cannot create a scratch folder";
        }
        return nullptr;
    }
    session->scratch_ = pattern;
    session->home_ = session->scratch_ / "home";
    std::filesystem::create_directories(session->home_);
    std::filesystem::create_directories(session->scratch_ / "runtime");
    std::filesystem::permissions(session->scratch_ / "runtime", std::filesystem::perms::owner_all);

    // Xvfb picks a free display and writes its number to this pipe once it accepts clients.
    int displayPipe[2];
    if (::pipe(displayPipe) != 0) {
        if (skipReason) {
            *skipReason = "pipe failed";
        }
        return nullptr;
    }
    ::fcntl(displayPipe[0], F_SETFD, FD_CLOEXEC);
    session->server_ = session->spawnWithFds(
        {xvfb, "-displayfd", std::to_string(displayPipe[1]), "-screen", "0", options.screen,
         "-nolisten", "tcp", "-noreset", "+extension", "Composite"},
        -1, displayPipe[1]);
    ::close(displayPipe[1]);
    std::string number;
    readAll(displayPipe[0], number, SteadyClock::now() + std::chrono::seconds(20), true);
    ::close(displayPipe[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' ')) {
        number.pop_back();
    }
    if (number.empty() || session->server_ < 0) {
        if (skipReason) {
            *skipReason = "Xvfb did not start";
        }
        return nullptr;
    }
    session->display_ = ":" + number;

    Error error;
    session->connection_ = x11::Connection::open(session->display_, &error);
    if (!session->connection_) {
        if (skipReason) {
            *skipReason = error.description;
        }
        return nullptr;
    }
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(session->connection_->get(), session->connection_->root(),
                                 XCB_CW_EVENT_MASK, &mask);
    session->connection_->flush();

    if (options.windowManager && !session->startWindowManager(skipReason)) {
        return nullptr;
    }
    return session;
}

bool XSession::startWindowManager(std::string* skipReason) {
    const std::string openbox = findProgram("openbox");
    if (openbox.empty()) {
        if (skipReason) {
            *skipReason = "openbox is not installed; run scripts/bootstrap";
        }
        return false;
    }
    spawn({openbox, "--sm-disable"});
    const bool ready = waitUntil(
        [this] {
            return !cardinalList(*connection_, connection_->root(), "_NET_SUPPORTING_WM_CHECK",
                                 XCB_ATOM_WINDOW)
                        .empty();
        },
        std::chrono::seconds(20));
    if (!ready) {
        if (skipReason) {
            *skipReason = "openbox did not start";
        }
        return false;
    }
    // openbox announces itself before it handles requests: a window mapped in its first moments
    // may never be managed. It is ready once it carries out a desktop switch (asked again until
    // it does), and then back.
    for (const std::uint32_t desktop : {1u, 0u}) {
        bool switched = false;
        for (int attempt = 0; attempt < 40 && !switched; ++attempt) {
            run({"wmctrl", "-s", std::to_string(desktop)});
            switched = waitUntil(
                [this, desktop] {
                    const auto current = cardinalList(*connection_, connection_->root(),
                                                      "_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL);
                    return !current.empty() && current.front() == desktop;
                },
                std::chrono::milliseconds(500));
        }
        if (!switched) {
            if (skipReason) {
                *skipReason = "openbox does not answer requests";
            }
            return false;
        }
    }
    return true;
}

XSession::~XSession() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        terminate(*it);
    }
    connection_.reset();
    if (server_ > 0) {
        terminate(server_);
    }
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

std::vector<std::string> XSession::environment() const {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string value(*entry);
        const auto name = value.substr(0, value.find('='));
        if (name != "DISPLAY" && name != "HOME" && name != "XDG_RUNTIME_DIR" &&
            name != "XDG_CONFIG_HOME" && name != "XDG_CACHE_HOME" && name != "XDG_DATA_HOME") {
            env.push_back(value);
        }
    }
    env.push_back("DISPLAY=" + display_);
    env.push_back("HOME=" + home_.string());
    env.push_back("XDG_RUNTIME_DIR=" + (scratch_ / "runtime").string());
    env.push_back("XDG_CONFIG_HOME=" + (home_ / ".config").string());
    env.push_back("XDG_CACHE_HOME=" + (home_ / ".cache").string());
    env.push_back("XDG_DATA_HOME=" + (home_ / ".local/share").string());
    return env;
}

pid_t XSession::spawnWithFds(const std::vector<std::string>& argv, int stdoutFd, int keepFd) {
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const auto env = environment();
    std::vector<char*> envp;
    for (const auto& entry : env) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    (void)keepFd;  // inherited as is: the pipe was made without close-on-exec
    pid_t pid = -1;
    const std::string program =
        argv.front().find('/') == std::string::npos ? findProgram(argv.front()) : argv.front();
    if (program.empty() ||
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

pid_t XSession::spawn(const std::vector<std::string>& argv) {
    const pid_t pid = spawnWithFds(argv, -1, -1);
    if (pid > 0) {
        children_.push_back(pid);
    }
    return pid;
}

XSession::Result XSession::run(const std::vector<std::string>& argv) {
    Result result;
    int out[2];
    if (::pipe(out) != 0) {
        return result;
    }
    ::fcntl(out[0], F_SETFD, FD_CLOEXEC);
    const pid_t pid = spawnWithFds(argv, out[1], -1);
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        return result;
    }
    readAll(out[0], result.output, SteadyClock::now() + std::chrono::seconds(30), false);
    ::close(out[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

void XSession::terminate(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
    if (::kill(pid, SIGTERM) != 0) {
        ::waitpid(pid, nullptr, WNOHANG);
        return;
    }
    // Give it up to two seconds to leave on its own (woken by its exit), then force it.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd pfd{pidfd, POLLIN, 0};
        ::poll(&pfd, 1, 2000);
        ::close(pidfd);
    }
    if (::waitpid(pid, nullptr, WNOHANG) == pid) {
        return;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool XSession::waitUntil(const std::function<bool()>& predicate,
                         std::chrono::milliseconds timeout) {
    const auto deadline = SteadyClock::now() + timeout;
    auto* c = connection_->get();
    for (;;) {
        // Drain what arrived, then look again.
        while (x11::Reply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        }
        if (predicate()) {
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0 || connection_->hasFailed()) {
            return false;
        }
        // Wake on the next event, or at least every 50 ms for changes the root does not see.
        pollfd pfd{connection_->fileDescriptor(), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(std::min<long>(left.count(), 50)));
    }
}

std::vector<xcb_window_t> XSession::clientWindows() {
    return cardinalList(*connection_, connection_->root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW);
}

xcb_window_t XSession::waitForClientWindow(pid_t pid, std::chrono::milliseconds timeout) {
    xcb_window_t found = XCB_WINDOW_NONE;
    waitUntil(
        [&] {
            for (const auto window : clientWindows()) {
                const auto pids =
                    cardinalList(*connection_, window, "_NET_WM_PID", XCB_ATOM_CARDINAL);
                if (!pids.empty() && static_cast<pid_t>(pids.front()) == pid) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

}  // namespace tovalo::testing
