#include <gtest/gtest.h>

#include <QEvent>
#include <QObject>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/qt/qt_panel.h"
#include "platform/qt/qt_panel_widget.h"
#include "platform/qt/qt_screen_geometry.h"
#include "platform/qt/qt_video_layer.h"
#include "qt_test_desktop.h"

namespace tovalo::qt {
namespace {

using namespace std::chrono_literals;
using testing::QtTestDesktop;

// Counts the button presses a widget receives.
class PressCounter final : public QObject {
  public:
    int presses = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonPress) {
            ++presses;
        }
        return QObject::eventFilter(watched, event);
    }
};

// A frame in solid BGRX halves, for something to see in screenshots.
class SplitFrame final : public VideoFrame {
  public:
    SplitFrame() : pixels_(64 * 32 * 4) {
        for (std::size_t i = 0; i < 64 * 32; ++i) {
            const bool left = (i % 64) < 32;
            pixels_[i * 4 + 0] = left ? 0x20 : 0xe0;
            pixels_[i * 4 + 2] = left ? 0xe0 : 0x20;
        }
    }
    std::uint32_t width() const override { return 64; }
    std::uint32_t height() const override { return 32; }
    std::size_t bytesPerRow() const override { return 64 * 4; }
    const std::uint8_t* data() const override { return pixels_.data(); }
    TimePoint timestamp() const override { return {}; }
    bool isValid() const override { return true; }

  private:
    std::vector<std::uint8_t> pixels_;
};

std::string hex(xcb_window_t window) {
    std::ostringstream out;
    out << "0x" << std::hex << window;
    return out.str();
}

// One overlay panel over an xterm, another xterm to move the focus to, and a connection of the
// test's own that records the panel's map and unmap events.
class QtPanelDesktopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session_ = QtTestDesktop::session();
        if (!session_) {
            GTEST_SKIP() << QtTestDesktop::skipReason();
        }
        below_ = startXterm("+100+100");
        other_ = startXterm("+1000+600");
        ASSERT_NE(below_, XCB_WINDOW_NONE);
        ASSERT_NE(other_, XCB_WINDOW_NONE);

        WindowCreationOptions options;
        options.isPanel = true;
        options.styleMask = WindowStyle::borderless | WindowStyle::nonactivatingPanel;
        // Top-left (150, 150) in X terms.
        options.contentRect = QtScreenGeometry::fromQt(kPanelRect);
        panel_ = QtPanel::make(options, runtime_);
        panel_->setLevel(WindowLevel::floating);
        layer_->enqueue(std::make_shared<SplitFrame>());
        panel_->setVideoLayer(layer_);
        panel_->widget()->installEventFilter(&presses_);

        Error error;
        watcher_ = x11::Connection::open(session_->displayName(), &error);
        ASSERT_TRUE(watcher_) << error.description;
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(watcher_->get(), panel_->windowNumber(), XCB_CW_EVENT_MASK,
                                     &mask);
        watcher_->flush();

        panel_->orderFrontRegardless();
        ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return isMapped(panel_->windowNumber()); }));
    }

    void TearDown() override {
        if (panel_) {
            panel_->close();
        }
        for (const pid_t pid : clients_) {
            session_->terminate(pid);
        }
    }

    xcb_window_t startXterm(const std::string& geometry) {
        const pid_t pid = session_->spawn({"xterm", "-geometry", "80x24" + geometry});
        clients_.push_back(pid);
        return session_->waitForClientWindow(pid, 20s);
    }

    bool isMapped(xcb_window_t window) {
        auto* c = session_->connection().get();
        x11::Reply<xcb_get_window_attributes_reply_t> reply{
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr)};
        return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    }

    // Root children bottom to top.
    std::vector<xcb_window_t> stacking() {
        auto* c = session_->connection().get();
        x11::Reply<xcb_query_tree_reply_t> tree{
            xcb_query_tree_reply(c, xcb_query_tree(c, session_->connection().root()), nullptr)};
        if (!tree) {
            return {};
        }
        const auto* children = xcb_query_tree_children(tree.get());
        return std::vector<xcb_window_t>(children,
                                         children + xcb_query_tree_children_length(tree.get()));
    }

    // The root child holding `window` (its window manager frame).
    xcb_window_t topLevel(xcb_window_t window) {
        auto* c = session_->connection().get();
        const xcb_window_t root = session_->connection().root();
        for (;;) {
            x11::Reply<xcb_query_tree_reply_t> tree{
                xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr)};
            if (!tree || tree->parent == root || tree->parent == XCB_WINDOW_NONE) {
                return window;
            }
            window = tree->parent;
        }
    }

    bool panelIsAbove(xcb_window_t client) {
        const auto order = stacking();
        const auto panel = std::find(order.begin(), order.end(), panel_->windowNumber());
        const auto frame = std::find(order.begin(), order.end(), topLevel(client));
        return panel != order.end() && frame != order.end() && panel > frame;
    }

    xcb_window_t activeWindow() {
        auto& connection = session_->connection();
        auto* c = connection.get();
        x11::Reply<xcb_get_property_reply_t> reply{xcb_get_property_reply(
            c,
            xcb_get_property(c, 0, connection.root(), connection.atom("_NET_ACTIVE_WINDOW"),
                             XCB_ATOM_WINDOW, 0, 1),
            nullptr)};
        if (!reply || xcb_get_property_value_length(reply.get()) < 4) {
            return XCB_WINDOW_NONE;
        }
        return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    }

    void activate(xcb_window_t window) {
        ASSERT_EQ(session_->run({"wmctrl", "-i", "-a", hex(window)}).exitCode, 0);
        ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return activeWindow() == window; }));
    }

    void clickAtPanel() {
        ASSERT_EQ(session_->run({"xdotool", "mousemove", "250", "200", "click", "1"}).exitCode, 0);
    }

    // Map and unmap events of the panel seen so far.
    int remaps() {
        int count = 0;
        while (x11::Reply<xcb_generic_event_t> event{xcb_poll_for_event(watcher_->get())}) {
            const auto type = event->response_type & 0x7f;
            count += (type == XCB_MAP_NOTIFY || type == XCB_UNMAP_NOTIFY) ? 1 : 0;
        }
        return count;
    }

    static constexpr QRect kPanelRect{150, 150, 200, 100};
    tovalo::testing::XSession* session_ = nullptr;
    std::vector<pid_t> clients_;
    xcb_window_t below_ = XCB_WINDOW_NONE;
    xcb_window_t other_ = XCB_WINDOW_NONE;
    std::shared_ptr<ManualDispatchRuntime> runtime_ = ManualDispatchRuntime::make();
    std::shared_ptr<QtVideoLayer> layer_ = std::make_shared<QtVideoLayer>();
    std::shared_ptr<QtPanel> panel_;
    PressCounter presses_;
    std::shared_ptr<x11::Connection> watcher_;
};

TEST_F(QtPanelDesktopTest, LandsExactlyWhereAskedAboveTheWindowsEvenWhenOneIsRaised) {
    const auto info = session_->run({"xwininfo", "-id", hex(panel_->windowNumber())}).output;
    EXPECT_NE(info.find("Absolute upper-left X:  150"), std::string::npos) << info;
    EXPECT_NE(info.find("Absolute upper-left Y:  150"), std::string::npos) << info;
    EXPECT_NE(info.find("Width: 200"), std::string::npos) << info;
    EXPECT_NE(info.find("Height: 100"), std::string::npos) << info;
    EXPECT_EQ(panel_->frame(), QtScreenGeometry::fromQt(kPanelRect));
    EXPECT_TRUE(panel_->isVisible());

    activate(below_);
    EXPECT_TRUE(panelIsAbove(below_));
    EXPECT_TRUE(panelIsAbove(other_));
    EXPECT_NE(activeWindow(), panel_->windowNumber());

    // Moved to a new place while shown, then hidden and shown again: still exact and above.
    const Rect moved = QtScreenGeometry::fromQt(QRect(300, 200, 120, 80));
    panel_->setFrame(moved, true);
    panel_->orderOut();
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return !isMapped(panel_->windowNumber()); }));
    panel_->orderFrontRegardless();
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return isMapped(panel_->windowNumber()); }));
    activate(other_);
    const auto again = session_->run({"xwininfo", "-id", hex(panel_->windowNumber())}).output;
    EXPECT_NE(again.find("Absolute upper-left X:  300"), std::string::npos) << again;
    EXPECT_NE(again.find("Absolute upper-left Y:  200"), std::string::npos) << again;
    EXPECT_NE(again.find("Width: 120"), std::string::npos) << again;
    EXPECT_TRUE(panelIsAbove(other_));
    EXPECT_TRUE(panelIsAbove(below_));
    EXPECT_EQ(panel_->frame(), moved);
}

TEST_F(QtPanelDesktopTest, ClickThroughTogglesWithoutRemapping) {
    remaps();  // what showing it produced

    // Through: the click lands on the xterm below, which the window manager then activates.
    activate(other_);
    panel_->setIgnoresMouseEvents(true);
    EXPECT_TRUE(panel_->ignoresMouseEvents());
    QtTestDesktop::pumpUntil([] { return false; }, 100ms);  // let Qt send the change
    clickAtPanel();
    EXPECT_TRUE(QtTestDesktop::pumpUntil([&] { return activeWindow() == below_; }));
    EXPECT_EQ(presses_.presses, 0);

    // Back on: the panel takes the click and the focus stays where it was.
    activate(other_);
    panel_->setIgnoresMouseEvents(false);
    QtTestDesktop::pumpUntil([] { return false; }, 100ms);
    clickAtPanel();
    EXPECT_TRUE(QtTestDesktop::pumpUntil([&] { return presses_.presses == 1; }));
    EXPECT_EQ(activeWindow(), other_);

    EXPECT_TRUE(isMapped(panel_->windowNumber()));
    EXPECT_EQ(remaps(), 0);
}

TEST_F(QtPanelDesktopTest, PublishesItsOpacityAndShowsInAScreenshot) {
    panel_->setAlphaValue(0.5);
    const auto opacity = [&] {
        return session_
            ->run({"xprop", "-id", hex(panel_->windowNumber()), "_NET_WM_WINDOW_OPACITY"})
            .output;
    };
    // Half of 0xffffffff, rounded either way.
    const auto isHalf = [&] {
        const auto text = opacity();
        const auto equals = text.find("= ");
        if (equals == std::string::npos) {
            return false;
        }
        const double value = std::stod(text.substr(equals + 2));
        return std::abs(value - 2147483647.5) <= 1;
    };
    EXPECT_TRUE(QtTestDesktop::pumpUntil(isHalf)) << opacity();
    EXPECT_DOUBLE_EQ(panel_->alphaValue(), 0.5);
    panel_->setAlphaValue(1.0);

    const char* shot = std::getenv("TOVALO_QT_SCREENSHOT");
    if (shot != nullptr) {
        QtTestDesktop::pumpUntil([] { return false; }, 200ms);
        EXPECT_EQ(session_->run({"import", "-window", "root", shot}).exitCode, 0);
    }
}

}  // namespace
}  // namespace tovalo::qt
