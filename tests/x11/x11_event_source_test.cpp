#include "platform/x11/x11_event_source.h"

#include "x11_desktop_fixture.h"

namespace tovalo::x11::testing {
namespace {

using X11EventSourceTest = X11DesktopTest;

TEST_F(X11EventSourceTest, DeliversAWindowsEventsToItsSubscribersUntilTheyUnsubscribe) {
    auto xterm = startXterm("events");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    const xcb_atom_t marker = connection_->atom("TOVALO_TEST_MARKER");
    int windowCalls = 0;
    int allCalls = 0;
    auto subscription = events_->subscribe(
        xterm.window, XCB_EVENT_MASK_PROPERTY_CHANGE, [&](const xcb_generic_event_t& event) {
            if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                reinterpret_cast<const xcb_property_notify_event_t&>(event).atom == marker) {
                ++windowCalls;
            }
        });
    auto all = events_->subscribeAll([&](const xcb_generic_event_t& event) {
        if ((event.response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
            reinterpret_cast<const xcb_property_notify_event_t&>(event).atom == marker &&
            X11EventSource::windowOf(event) == xterm.window) {
            ++allCalls;
        }
    });
    ASSERT_TRUE(subscription.isActive());

    auto setMarker = [&](const std::string& value) {
        return run({"xprop", "-id", hex(xterm.window), "-f", "TOVALO_TEST_MARKER", "8s", "-set",
                    "TOVALO_TEST_MARKER", value})
            .exitCode;
    };
    ASSERT_EQ(setMarker("one"), 0);
    ASSERT_TRUE(pumpUntil([&] { return windowCalls == 1; }));
    EXPECT_EQ(allCalls, 1);

    // Unsubscribed: the window's mask is dropped and nothing more arrives for it.
    subscription.reset();
    ASSERT_EQ(setMarker("two"), 0);
    // A second subscriber of the root sees the next change, so the first one had its chance.
    int rootCalls = 0;
    auto root = events_->subscribe(connection_->root(), XCB_EVENT_MASK_PROPERTY_CHANGE,
                                   [&](const xcb_generic_event_t&) { ++rootCalls; });
    ASSERT_EQ(run({"xprop", "-root", "-f", "TOVALO_TEST_MARKER", "8s", "-set", "TOVALO_TEST_MARKER",
                   "root"})
                  .exitCode,
              0);
    ASSERT_TRUE(pumpUntil([&] { return rootCalls > 0; }));
    EXPECT_EQ(windowCalls, 1);
    EXPECT_EQ(allCalls, 1);
}

TEST_F(X11EventSourceTest, SubscribingToAMissingWindowFailsAndLateErrorsAreHandled) {
    std::optional<ProtocolError> error;
    auto subscription = events_->subscribe(
        0x7ffffff, XCB_EVENT_MASK_STRUCTURE_NOTIFY, [](const xcb_generic_event_t&) {}, &error);
    EXPECT_FALSE(subscription.isActive());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->errorCode, XCB_WINDOW);

    // An unchecked request about a missing window answers with an error event.
    std::vector<ProtocolError> errors;
    auto watch = events_->subscribeErrors([&](const ProtocolError& e) { errors.push_back(e); });
    xcb_map_window(connection_->get(), 0x7fffffe);
    connection_->flush();
    ASSERT_TRUE(pumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front().resourceID, 0x7fffffeu);
    EXPECT_FALSE(connection_->hasFailed());
}

TEST_F(X11EventSourceTest, AHandlerMayUnsubscribeAnotherDuringDelivery) {
    auto xterm = startXterm("reentrant");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    Subscription second;
    int secondCalls = 0;
    auto first = events_->subscribe(xterm.window, XCB_EVENT_MASK_PROPERTY_CHANGE,
                                    [&](const xcb_generic_event_t&) { second.reset(); });
    second = events_->subscribe(xterm.window, XCB_EVENT_MASK_PROPERTY_CHANGE,
                                [&](const xcb_generic_event_t&) { ++secondCalls; });
    ASSERT_EQ(run({"xprop", "-id", hex(xterm.window), "-f", "TOVALO_TEST_MARKER", "8s", "-set",
                   "TOVALO_TEST_MARKER", "x"})
                  .exitCode,
              0);
    ASSERT_TRUE(pumpUntil([&] { return !second.isActive(); }));
    EXPECT_EQ(secondCalls, 0);
}

}  // namespace
}  // namespace tovalo::x11::testing
