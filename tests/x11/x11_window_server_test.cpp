#include "platform/x11/x11_window_server.h"

#include "x11_desktop_fixture.h"

namespace tovalo::x11::testing {
namespace {

class X11WindowServerTest : public X11DesktopTest {
  protected:
    void SetUp() override {
        X11DesktopTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        server_ = std::make_unique<X11WindowServer>(reader_, DesktopEntryIndex::load({}));
    }

    // The record of `window` in the full list; nullptr when not listed.
    std::optional<ValueMap> recordOf(xcb_window_t window, WindowListOption options = 0) {
        const auto list = server_->copyWindowInfo(options, kNullWindowID);
        if (!list) {
            return std::nullopt;
        }
        for (const auto& entry : *list) {
            if (entry.find(WindowInfoKey::number)->asInt() == window) {
                return *entry.asMap();
            }
        }
        return std::nullopt;
    }
    static Rect boundsOf(const ValueMap& record) {
        const auto& bounds = record.at(WindowInfoKey::bounds);
        return Rect(*bounds.find("X")->asDouble(), *bounds.find("Y")->asDouble(),
                    *bounds.find("Width")->asDouble(), *bounds.find("Height")->asDouble());
    }
    bool isOnScreen(xcb_window_t window) {
        const auto record = recordOf(window);
        return record && record->at(WindowInfoKey::isOnscreen).asBool() == true;
    }

    std::unique_ptr<X11WindowServer> server_;
};

TEST_F(X11WindowServerTest, ListsClientsFrontToBackWithFrameBoundsTitleOwnerAndLayer) {
    auto xterm = startXterm("terminal one");
    auto xclock = startClient({"xclock", "-geometry", "120x120+700+300"});
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_NE(xclock.window, XCB_WINDOW_NONE);

    // The last activated window is in front.
    ASSERT_EQ(run({"wmctrl", "-i", "-a", hex(xterm.window)}).exitCode, 0);
    // The window manager may still be busy with the clock it just mapped: wait until its own
    // stacking list (bottom to top) ends with the terminal.
    const auto topOfStacking = [&] {
        Connection& c = *connection_;
        Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c.get(),
            xcb_get_property(c.get(), 0, c.root(), c.atom("_NET_CLIENT_LIST_STACKING"),
                             XCB_ATOM_WINDOW, 0, 1024),
            nullptr));
        const int count = reply ? xcb_get_property_value_length(reply.get()) / 4 : 0;
        return count > 0 ? static_cast<const xcb_window_t*>(
                               xcb_get_property_value(reply.get()))[count - 1]
                         : xcb_window_t{XCB_WINDOW_NONE};
    };
    ASSERT_TRUE(session_->waitUntil(
        [&] { return reader_->activeWindow() == xterm.window && topOfStacking() == xterm.window; },
        10s));
    auto list = server_->copyWindowInfo(WindowListOptions::all, kNullWindowID);
    ASSERT_TRUE(list);
    std::vector<std::int64_t> order;
    for (const auto& entry : *list) {
        order.push_back(*entry.find(WindowInfoKey::number)->asInt());
    }
    const auto xtermAt = std::find(order.begin(), order.end(), xterm.window);
    const auto xclockAt = std::find(order.begin(), order.end(), xclock.window);
    ASSERT_NE(xtermAt, order.end());
    ASSERT_NE(xclockAt, order.end());
    EXPECT_LT(xtermAt, xclockAt);

    const auto record = recordOf(xterm.window);
    ASSERT_TRUE(record);
    // xterm sets no _NET_WM_NAME: the title comes from WM_NAME.
    EXPECT_EQ(record->at(WindowInfoKey::name), Value("terminal one"));
    EXPECT_EQ(record->at(WindowInfoKey::ownerPID), Value(xterm.pid));
    EXPECT_EQ(record->at(WindowInfoKey::ownerName), Value("XTerm"));
    EXPECT_EQ(record->at(WindowInfoKey::layer), Value(0));
    EXPECT_EQ(record->at(WindowInfoKey::alpha), Value(1.0));
    EXPECT_EQ(record->at(WindowInfoKey::isOnscreen), Value(true));
    const auto frame = xwininfoFrame(xterm.window);
    ASSERT_TRUE(frame);
    EXPECT_EQ(boundsOf(*record), *frame);
    // The frame includes the decorations: larger than the client.
    EXPECT_GT(frame->size.height, 0);
}

TEST_F(X11WindowServerTest, TitlePrefersNetWmNameAndBoundsLeaveOutClientSideShadows) {
    auto xterm = startXterm("plain name");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_EQ(run({"xprop", "-id", hex(xterm.window), "-f", "_NET_WM_NAME", "8u", "-set",
                   "_NET_WM_NAME", "Grüße"})
                  .exitCode,
              0);
    const auto before = recordOf(xterm.window);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->at(WindowInfoKey::name), Value("Grüße"));

    ASSERT_EQ(run({"xprop", "-id", hex(xterm.window), "-f", "_GTK_FRAME_EXTENTS", "32c", "-set",
                   "_GTK_FRAME_EXTENTS", "3, 5, 7, 11"})
                  .exitCode,
              0);
    const auto frame = xwininfoFrame(xterm.window);
    ASSERT_TRUE(frame);
    const auto after = recordOf(xterm.window);
    ASSERT_TRUE(after);
    EXPECT_EQ(boundsOf(*after), Rect(frame->origin.x + 3, frame->origin.y + 7,
                                     frame->size.width - 8, frame->size.height - 18));
}

TEST_F(X11WindowServerTest, LayerAndAlphaFollowWindowTypeAndOpacity) {
    auto xterm = startXterm("typed");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    struct Case {
        const char* type;
        int expectedSign;  // -1 below normal windows, 0 normal, 1 above
    };
    const Case cases[] = {
        {"_NET_WM_WINDOW_TYPE_NORMAL", 0},     {"_NET_WM_WINDOW_TYPE_DIALOG", 0},
        {"_NET_WM_WINDOW_TYPE_UTILITY", 0},    {"_NET_WM_WINDOW_TYPE_DOCK", 1},
        {"_NET_WM_WINDOW_TYPE_TOOLTIP", 1},    {"_NET_WM_WINDOW_TYPE_NOTIFICATION", 1},
        {"_NET_WM_WINDOW_TYPE_POPUP_MENU", 1}, {"_NET_WM_WINDOW_TYPE_DESKTOP", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_EQ(run({"xprop", "-id", hex(xterm.window), "-f", "_NET_WM_WINDOW_TYPE", "32a",
                       "-set", "_NET_WM_WINDOW_TYPE", c.type})
                      .exitCode,
                  0);
        const auto record = recordOf(xterm.window);
        ASSERT_TRUE(record);
        const auto layer = *record->at(WindowInfoKey::layer).asInt();
        EXPECT_EQ((layer > 0) - (layer < 0), c.expectedSign);
        // Desktop elements are left out on request.
        EXPECT_EQ(recordOf(xterm.window, WindowListOptions::excludeDesktopElements).has_value(),
                  c.expectedSign >= 0);
    }

    ASSERT_EQ(run({"xprop", "-id", hex(xterm.window), "-f", "_NET_WM_WINDOW_OPACITY", "32c", "-set",
                   "_NET_WM_WINDOW_OPACITY", "0x7fffffff"})
                  .exitCode,
              0);
    const auto record = recordOf(xterm.window);
    ASSERT_TRUE(record);
    EXPECT_NEAR(*record->at(WindowInfoKey::alpha).asDouble(), 0.5, 1e-6);
}

TEST_F(X11WindowServerTest, OffScreenOnAnotherDesktopAndWhileMinimised) {
    auto xterm = startXterm("moving about");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_TRUE(session_->waitUntil([&] { return isOnScreen(xterm.window); }, 10s));

    ASSERT_EQ(run({"wmctrl", "-s", "1"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return !isOnScreen(xterm.window); }, 10s));
    // Still listed without the on-screen filter, left out with it.
    EXPECT_TRUE(recordOf(xterm.window));
    EXPECT_FALSE(recordOf(xterm.window, WindowListOptions::onScreenOnly));
    ASSERT_EQ(run({"wmctrl", "-s", "0"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return isOnScreen(xterm.window); }, 10s));

    ASSERT_EQ(run({"xdotool", "windowminimize", hex(xterm.window)}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return !isOnScreen(xterm.window); }, 10s));
    ASSERT_EQ(run({"wmctrl", "-i", "-a", hex(xterm.window)}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil([&] { return isOnScreen(xterm.window); }, 10s));
}

TEST_F(X11WindowServerTest, RelativeOptionsSelectAroundAWindow) {
    auto back = startXterm("back");
    auto front = startXterm("front", "40x10+300+300");
    ASSERT_NE(back.window, XCB_WINDOW_NONE);
    ASSERT_NE(front.window, XCB_WINDOW_NONE);
    ASSERT_EQ(run({"wmctrl", "-i", "-a", hex(front.window)}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil([&] { return reader_->activeWindow() == front.window; }, 10s));

    auto numbers = [&](WindowListOption options, WindowID relative) {
        std::vector<std::int64_t> result;
        for (const auto& entry : server_->copyWindowInfo(options, relative).value_or(ValueList{})) {
            result.push_back(*entry.find(WindowInfoKey::number)->asInt());
        }
        return result;
    };
    using Numbers = std::vector<std::int64_t>;
    EXPECT_EQ(numbers(WindowListOptions::includingWindow, back.window), Numbers{back.window});
    const auto above = numbers(WindowListOptions::onScreenAboveWindow, back.window);
    EXPECT_NE(std::find(above.begin(), above.end(), front.window), above.end());
    EXPECT_EQ(std::find(above.begin(), above.end(), back.window), above.end());
    const auto below = numbers(
        WindowListOptions::onScreenBelowWindow | WindowListOptions::includingWindow, front.window);
    EXPECT_EQ(below.front(), front.window);
    EXPECT_NE(std::find(below.begin(), below.end(), back.window), below.end());
    // A window that does not exist: an empty list, not a failure.
    const auto unknown = server_->copyWindowInfo(WindowListOptions::includingWindow, 0x7ffffff);
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown->empty());
}

TEST_F(X11WindowServerTest, AWindowDestroyedBetweenReadsReadsAsGone) {
    auto xterm = startXterm("short lived");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_TRUE(reader_->read(xterm.window));
    const xcb_window_t window = xterm.window;
    stopClient(xterm);
    ASSERT_TRUE(session_->waitUntil(
        [&] {
            const auto clients = session_->clientWindows();
            return std::find(clients.begin(), clients.end(), window) == clients.end();
        },
        10s));
    EXPECT_FALSE(reader_->read(window));
    EXPECT_FALSE(reader_->bounds(window));
    EXPECT_FALSE(recordOf(window));
    EXPECT_FALSE(connection_->hasFailed());
}

}  // namespace
}  // namespace tovalo::x11::testing
