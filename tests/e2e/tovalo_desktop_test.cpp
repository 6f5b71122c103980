// The real `tovalo` program on a private X desktop (Xvfb + openbox + real X clients + a private
// session bus): a window pinned through `tovalo ctl` is mirrored by an always-on-top overlay that
// covers its frame exactly, shows the source's own pixels, follows moves and resizes, hides while
// the source is minimised or on another desktop, and goes away when the source dies or is
// unpinned. Screenshots of every state are written to $TOVALO_E2E_SCREENSHOTS (default: the
// test's working folder) to be looked at.

#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/x11/x_session.h"

namespace tovalo::testing {
namespace {

using namespace std::chrono_literals;
using x11::Reply;

struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Geometry&, const Geometry&) = default;
};

std::string screenshotFolder() {
    const char* folder = std::getenv("TOVALO_E2E_SCREENSHOTS");
    return folder ? folder : std::filesystem::current_path().string();
}

// One desktop, one bus and one running tovalo for the whole suite; the tests run in order and
// each leaves the desktop as it found it.
class TovaloDesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session_ = XSession::start({}, &skipReason_).release();
        if (!session_) {
            return;
        }
        // A private session bus; its address goes to every child through the environment.
        const auto bus = session_->run(
            {"dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"});
        std::istringstream lines(bus.output);
        std::string address;
        std::getline(lines, address);
        lines >> busPid_;
        if (bus.exitCode != 0 || address.empty()) {
            skipReason_ = "cannot start a session bus (dbus-daemon)";
            delete session_;
            session_ = nullptr;
            return;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        tovalo_ = session_->spawn({TOVALO_BINARY});
        const bool up = session_->waitUntil([] { return ctl({"status"}).exitCode == 0; }, 30s);
        if (!up) {
            skipReason_ = "tovalo did not start";
        }
    }

    static void TearDownTestSuite() {
        if (session_) {
            session_->terminate(tovalo_);
            delete session_;
            session_ = nullptr;
        }
        if (busPid_ > 0) {
            ::kill(busPid_, SIGTERM);
        }
    }

    void SetUp() override {
        if (!session_ || !skipReason_.empty()) {
            GTEST_SKIP() << (skipReason_.empty() ? "no desktop" : skipReason_);
        }
    }

    void TearDown() override {
        if (session_) {
            ctl({"unpin-all"});
            for (const pid_t pid : clients_) {
                session_->terminate(pid);
            }
        }
    }

    static XSession::Result ctl(std::vector<std::string> args) {
        args.insert(args.begin(), {TOVALO_BINARY, "ctl"});
        return session_->run(args);
    }

    // An xterm showing a fixed text (no cursor blink, nothing changing by itself).
    xcb_window_t startXterm(const std::string& geometry) {
        const pid_t pid =
            session_->spawn({"xterm", "-geometry", geometry, "-T", "source", "-e", "sh", "-c",
                             "printf 'tovalo end-to-end\\n'; exec sleep 1000"});
        clients_.push_back(pid);
        const xcb_window_t window = session_->waitForClientWindow(pid, 20s);
        pids_.push_back(pid);
        return window;
    }

    x11::Connection& x() { return session_->connection(); }

    // The window-manager frame of a client: its ancestor just below the root.
    xcb_window_t frameOf(xcb_window_t client) {
        xcb_window_t window = client;
        for (int depth = 0; depth < 8; ++depth) {
            Reply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(x().get(), xcb_query_tree(x().get(), window), nullptr));
            if (!tree || tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) {
                return window;
            }
            window = tree->parent;
        }
        return window;
    }

    std::optional<Geometry> geometryOf(xcb_window_t window) {
        Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(x().get(), xcb_get_geometry(x().get(), window), nullptr));
        if (!g) {
            return std::nullopt;
        }
        Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
            x().get(), xcb_translate_coordinates(x().get(), window, x().root(), 0, 0), nullptr));
        if (!t) {
            return std::nullopt;
        }
        return Geometry{t->dst_x, t->dst_y, g->width, g->height};
    }

    // tovalo's overlays: its mapped top-level windows (they bypass the window manager).
    std::vector<xcb_window_t> overlays() {
        std::vector<xcb_window_t> found;
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(x().get(), xcb_query_tree(x().get(), x().root()), nullptr));
        if (!tree) {
            return found;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
                x().get(), xcb_get_window_attributes(x().get(), children[i]), nullptr));
            if (!attributes || !attributes->override_redirect ||
                attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
                continue;
            }
            Reply<xcb_get_property_reply_t> wmClass(
                xcb_get_property_reply(x().get(),
                                       xcb_get_property(x().get(), 0, children[i],
                                                        XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64),
                                       nullptr));
            if (!wmClass) {
                continue;
            }
            const std::string value(
                static_cast<const char*>(xcb_get_property_value(wmClass.get())),
                static_cast<std::size_t>(xcb_get_property_value_length(wmClass.get())));
            if (value.find("tovalo") != std::string::npos) {
                found.push_back(children[i]);
            }
        }
        return found;
    }

    // True once an overlay is shown that covers `client`'s frame exactly.
    bool overlayCovers(xcb_window_t client) {
        const auto shown = overlays();
        const auto frame = geometryOf(frameOf(client));
        return frame && std::any_of(shown.begin(), shown.end(), [&](xcb_window_t overlay) {
                   return geometryOf(overlay) == frame;
               });
    }

    std::string describeOverlays(xcb_window_t client) {
        std::ostringstream out;
        const auto print = [&](const std::optional<Geometry>& g) {
            if (g) {
                out << g->width << "x" << g->height << "+" << g->x << "+" << g->y;
            } else {
                out << "none";
            }
        };
        out << "frame ";
        print(geometryOf(frameOf(client)));
        for (const auto overlay : overlays()) {
            out << ", overlay ";
            print(geometryOf(overlay));
        }
        return out.str();
    }

    // Covers the frame exactly and shows the source's own pixels there.
    bool mirrors(xcb_window_t client) {
        if (!overlayCovers(client)) {
            return false;
        }
        const xcb_window_t frame = frameOf(client);
        const auto geometry = geometryOf(frame);
        return geometry &&
               sameFraction(pixels(x().root(), *geometry), sourcePixels(frame, *geometry)) > 0.98;
    }

    // BGRX pixels of `drawable` in the given rectangle (window-relative).
    std::vector<std::uint8_t> pixels(xcb_drawable_t drawable, const Geometry& area) {
        Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            x().get(),
            xcb_get_image(x().get(), XCB_IMAGE_FORMAT_Z_PIXMAP, drawable,
                          static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                          static_cast<std::uint16_t>(area.width),
                          static_cast<std::uint16_t>(area.height), 0xffffffff),
            nullptr));
        if (!image) {
            return {};
        }
        const auto* data = xcb_get_image_data(image.get());
        return {data, data + xcb_get_image_data_length(image.get())};
    }

    // The source frame's own pixels, read from its off-screen copy (whatever covers it).
    std::vector<std::uint8_t> sourcePixels(xcb_window_t frame, const Geometry& size) {
        const xcb_pixmap_t pixmap = xcb_generate_id(x().get());
        xcb_composite_name_window_pixmap(x().get(), frame, pixmap);
        auto result = pixels(pixmap, Geometry{0, 0, size.width, size.height});
        xcb_free_pixmap(x().get(), pixmap);
        x().flush();
        return result;
    }

    void screenshot(const std::string& name) {
        const std::string path = screenshotFolder() + "/tovalo-e2e-" + name + ".png";
        session_->run({"import", "-window", "root", path});
    }

    static double sameFraction(const std::vector<std::uint8_t>& a,
                               const std::vector<std::uint8_t>& b) {
        if (a.size() != b.size() || a.empty()) {
            return 0;
        }
        std::size_t same = 0;
        for (std::size_t i = 0; i + 3 < a.size(); i += 4) {
            const bool close = std::abs(a[i] - b[i]) <= 8 && std::abs(a[i + 1] - b[i + 1]) <= 8 &&
                               std::abs(a[i + 2] - b[i + 2]) <= 8;
            same += close ? 1 : 0;
        }
        return static_cast<double>(same) / static_cast<double>(a.size() / 4);
    }

    static inline XSession* session_ = nullptr;
    static inline std::string skipReason_;
    static inline pid_t tovalo_ = -1;
    static inline pid_t busPid_ = -1;
    std::vector<pid_t> clients_;
    std::vector<pid_t> pids_;
};

std::string hex(xcb_window_t window) {
    std::ostringstream out;
    out << "0x" << std::hex << window;
    return out.str();
}

TEST_F(TovaloDesktopTest, APinnedWindowIsMirroredOverItsFrameAndFollowsIt) {
    const xcb_window_t source = startXterm("60x12+80+90");
    ASSERT_NE(source, XCB_WINDOW_NONE);
    const auto list = ctl({"list"});
    EXPECT_NE(list.output.find(std::to_string(source)), std::string::npos) << list.output;

    ASSERT_EQ(ctl({"pin", std::to_string(source)}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil([&] { return overlayCovers(source); }, 10s))
        << describeOverlays(source);
    screenshot("1-pinned");

    // Covered by another window, the overlay still shows the source's own pixels.
    const pid_t clock = session_->spawn({"xclock", "-geometry", "300x300+200+120"});
    clients_.push_back(clock);
    ASSERT_NE(session_->waitForClientWindow(clock, 20s), XCB_WINDOW_NONE);
    ASSERT_TRUE(session_->waitUntil([&] { return mirrors(source); }, 10s))
        << "screen pixels over the frame differ from the source's own";
    screenshot("2-covered");

    // Moves and resizes are followed.
    ASSERT_EQ(session_->run({"xdotool", "windowmove", hex(source), "400", "300"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return mirrors(source); }, 10s))
        << "after a move: " << describeOverlays(source);
    // xterm rounds its size to whole character cells: wait for any change of the frame's size.
    const auto beforeResize = geometryOf(frameOf(source));
    ASSERT_EQ(session_->run({"xdotool", "windowsize", hex(source), "500", "260"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil(
        [&] {
            const auto g = geometryOf(frameOf(source));
            return g && beforeResize &&
                   (g->width != beforeResize->width || g->height != beforeResize->height) &&
                   mirrors(source);
        },
        10s))
        << "after a resize: " << describeOverlays(source);
    screenshot("3-moved-and-resized");
}

TEST_F(TovaloDesktopTest, TheOverlayHidesWhileTheSourceIsMinimisedOrOnAnotherDesktop) {
    const xcb_window_t source = startXterm("50x10+120+140");
    ASSERT_NE(source, XCB_WINDOW_NONE);
    ASSERT_EQ(ctl({"pin", std::to_string(source)}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil([&] { return overlayCovers(source); }, 10s));

    ASSERT_EQ(session_->run({"xdotool", "windowminimize", hex(source)}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return overlays().empty(); }, 10s))
        << "minimised: " << describeOverlays(source);
    screenshot("4-minimised");
    ASSERT_EQ(session_->run({"wmctrl", "-i", "-a", hex(source)}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return overlayCovers(source); }, 10s))
        << "restored: " << describeOverlays(source);

    ASSERT_EQ(session_->run({"wmctrl", "-s", "1"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return overlays().empty(); }, 10s))
        << "desktop 1: " << describeOverlays(source);
    screenshot("5-other-desktop");
    ASSERT_EQ(session_->run({"wmctrl", "-s", "0"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return overlayCovers(source); }, 10s))
        << "desktop 0: " << describeOverlays(source);
    screenshot("6-back");
}

TEST_F(TovaloDesktopTest, ASourceThatDiesOrIsUnpinnedLeavesNoOverlay) {
    const xcb_window_t first = startXterm("40x8+60+60");
    const xcb_window_t second = startXterm("40x8+500+60");
    ASSERT_NE(first, XCB_WINDOW_NONE);
    ASSERT_NE(second, XCB_WINDOW_NONE);
    ASSERT_EQ(ctl({"pin", std::to_string(first)}).exitCode, 0);
    ASSERT_EQ(ctl({"pin", std::to_string(second)}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil([&] { return overlays().size() == 2; }, 10s));
    EXPECT_TRUE(session_->waitUntil([&] { return mirrors(first); }, 10s));
    screenshot("7-two-pinned");

    session_->terminate(pids_.front());
    EXPECT_TRUE(session_->waitUntil([&] { return overlayCovers(second); }, 10s));
    const auto status = ctl({"status"});
    EXPECT_NE(status.output.find("pinned: 1"), std::string::npos) << status.output;

    EXPECT_EQ(ctl({"unpin", std::to_string(second)}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return overlays().empty(); }, 10s));
    EXPECT_EQ(ctl({"unpin", std::to_string(second)}).exitCode, 1);
    screenshot("8-unpinned");
}

}  // namespace
}  // namespace tovalo::testing
