#include "platform/qt/qt_x11_event_pump.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <QCoreApplication>
#include <memory>
#include <string>

#include "qt_test_desktop.h"

namespace tovalo::qt {
namespace {

using testing::QtTestDesktop;

class QtX11EventPumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session_ = QtTestDesktop::session();
        if (!session_) {
            GTEST_SKIP() << QtTestDesktop::skipReason();
        }
        Error error;
        connection_ = x11::Connection::open(session_->displayName(), &error);
        ASSERT_TRUE(connection_) << error.description;
        events_ = x11::X11EventSource::make(connection_);
        marker_ = connection_->atom("TOVALO_QT_PUMP_MARK");
        subscription_ = events_->subscribe(
            connection_->root(), XCB_EVENT_MASK_PROPERTY_CHANGE,
            [this](const xcb_generic_event_t& event) {
                if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                    reinterpret_cast<const xcb_property_notify_event_t&>(event).atom == marker_) {
                    ++delivered_;
                }
            });
    }

    // Changes the root property through another client; returns once the server processed it.
    void setMarker(const std::string& value) {
        ASSERT_EQ(session_
                      ->run({"xprop", "-root", "-f", "TOVALO_QT_PUMP_MARK", "8s", "-set",
                             "TOVALO_QT_PUMP_MARK", value})
                      .exitCode,
                  0);
    }

    tovalo::testing::XSession* session_ = nullptr;
    std::shared_ptr<x11::Connection> connection_;
    std::shared_ptr<x11::X11EventSource> events_;
    Subscription subscription_;
    xcb_atom_t marker_ = XCB_ATOM_NONE;
    int delivered_ = 0;
};

TEST_F(QtX11EventPumpTest, DeliversEventsWhenTheConnectionTurnsReadable) {
    QtX11EventPump pump(events_, nullptr);
    setMarker("one");
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return delivered_ == 1; }));
    setMarker("two");
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return delivered_ == 2; }));
    EXPECT_GE(pump.batchCount(), 2u);
}

TEST_F(QtX11EventPumpTest, DeliversEventsXcbQueuedWhileWaitingForAReply) {
    QtX11EventPump pump(events_, nullptr);
    setMarker("queued");
    // Waiting for a reply reads the pending event into xcb's queue: the descriptor is quiet now.
    auto* c = connection_->get();
    x11::Reply<xcb_get_input_focus_reply_t> focus{
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)};
    ASSERT_TRUE(focus);
    pollfd pfd{connection_->fileDescriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 0), 0) << "the event should sit in xcb's queue, not the socket";
    EXPECT_EQ(delivered_, 0);

    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return delivered_ == 1; }));
}

TEST_F(QtX11EventPumpTest, StopsWatchingOnceGone) {
    { QtX11EventPump pump(events_, nullptr); }
    setMarker("after");
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered_, 0);
    EXPECT_GE(events_->processPendingEvents(), 1u);
    EXPECT_EQ(delivered_, 1);
}

}  // namespace
}  // namespace tovalo::qt
