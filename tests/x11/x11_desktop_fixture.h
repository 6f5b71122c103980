#pragma once

// What the X11 backend tests share: one private desktop (Xvfb + openbox) for the whole test
// binary, a product-side connection with its event source and window reader, a manual
// runtime for the main queue, and helpers to start clients and wait for the desktop to change.
// Tests start their own clients and put back what they change (desktop, minimised state).

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "base/manual_dispatch_runtime.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_event_source.h"
#include "support/x11/x_session.h"

namespace tovalo::x11::testing {

using tovalo::testing::XSession;
using namespace std::chrono_literals;

struct SharedDesktop {
    std::unique_ptr<XSession> session;
    std::string skipReason;
};

inline SharedDesktop& sharedDesktop() {
    static SharedDesktop desktop = [] {
        SharedDesktop result;
        result.session = XSession::start({}, &result.skipReason);
        return result;
    }();
    return desktop;
}

class X11DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& desktop = sharedDesktop();
        if (!desktop.session) {
            GTEST_SKIP() << desktop.skipReason;
        }
        session_ = desktop.session.get();
        Error error;
        connection_ = Connection::open(session_->displayName(), &error);
        ASSERT_TRUE(connection_) << error.description;
        events_ = X11EventSource::make(connection_);
        reader_ = std::make_shared<ClientWindowReader>(connection_);
        runtime_ = ManualDispatchRuntime::make();
    }

    void TearDown() override {
        for (const pid_t pid : clients_) {
            session_->terminate(pid);
        }
        if (session_) {
            // Put the desktop back for the next test.
            session_->run({"wmctrl", "-s", "0"});
        }
    }

    struct Client {
        pid_t pid = -1;
        xcb_window_t window = XCB_WINDOW_NONE;
    };

    // Starts a client and waits until the window manager manages its window.
    Client startClient(const std::vector<std::string>& argv) {
        Client client;
        client.pid = session_->spawn(argv);
        if (client.pid > 0) {
            clients_.push_back(client.pid);
            client.window = session_->waitForClientWindow(client.pid, 20s);
        }
        return client;
    }
    Client startXterm(const std::string& title, const std::string& geometry = "40x10+100+100") {
        return startClient({"xterm", "-T", title, "-geometry", geometry});
    }
    void stopClient(Client& client) {
        session_->terminate(client.pid);
        clients_.erase(std::remove(clients_.begin(), clients_.end(), client.pid), clients_.end());
    }

    XSession::Result run(const std::vector<std::string>& argv) { return session_->run(argv); }
    static std::string hex(xcb_window_t window) {
        std::ostringstream out;
        out << "0x" << std::hex << window;
        return out.str();
    }

    // Dispatches the product connection's events and drains the main queue until `predicate`
    // holds; wakes on the connection's descriptor (and `extraFd`), false after `timeout`.
    bool pumpUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = 10s,
                   int extraFd = -1, const std::function<void()>& onExtraFd = {}) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            events_->processPendingEvents();
            if (onExtraFd) {
                onExtraFd();
            }
            runtime_->runUntilIdle();
            if (predicate()) {
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || connection_->hasFailed()) {
                return false;
            }
            pollfd fds[2] = {{connection_->fileDescriptor(), POLLIN, 0}, {extraFd, POLLIN, 0}};
            // Replies read while handling events can queue further events without the
            // descriptor staying readable: look again at least every 50 ms.
            ::poll(fds, extraFd >= 0 ? 2 : 1, static_cast<int>(std::min<long>(left.count(), 50)));
        }
    }

    // The frame as the X tools report it: the client's absolute geometry from xwininfo grown
    // by the window manager's _NET_FRAME_EXTENTS from xprop.
    std::optional<Rect> xwininfoFrame(xcb_window_t window) {
        const auto info = run({"xwininfo", "-id", hex(window)});
        const auto extents = run({"xprop", "-id", hex(window), "_NET_FRAME_EXTENTS"});
        if (info.exitCode != 0 || extents.exitCode != 0) {
            return std::nullopt;
        }
        auto field = [&](const std::string& name) -> std::optional<double> {
            const auto at = info.output.find(name);
            if (at == std::string::npos) {
                return std::nullopt;
            }
            return std::stod(info.output.substr(at + name.size()));
        };
        auto x = field("Absolute upper-left X:");
        auto y = field("Absolute upper-left Y:");
        auto w = field("Width:");
        auto h = field("Height:");
        // "_NET_FRAME_EXTENTS(CARDINAL) = left, right, top, bottom"
        const auto equals = extents.output.find('=');
        if (!x || !y || !w || !h || equals == std::string::npos) {
            return std::nullopt;
        }
        std::istringstream numbers(extents.output.substr(equals + 1));
        double left = 0, right = 0, top = 0, bottom = 0;
        char comma = 0;
        if (!(numbers >> left >> comma >> right >> comma >> top >> comma >> bottom)) {
            return std::nullopt;
        }
        return Rect(*x - left, *y - top, *w + left + right, *h + top + bottom);
    }

    XSession* session_ = nullptr;
    std::shared_ptr<Connection> connection_;
    std::shared_ptr<X11EventSource> events_;
    std::shared_ptr<ClientWindowReader> reader_;
    std::shared_ptr<ManualDispatchRuntime> runtime_;
    std::vector<pid_t> clients_;
};

}  // namespace tovalo::x11::testing
