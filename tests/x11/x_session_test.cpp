#include "support/x11/x_session.h"

#include <gtest/gtest.h>

namespace tovalo::testing {
namespace {

TEST(XSessionTest, StartsAServerWithAWindowManagerAndFindsAClientByPid) {
    std::string reason;
    auto session = XSession::start({}, &reason);
    if (!session) {
        GTEST_SKIP() << reason;
    }
    const pid_t xterm = session->spawn({"xterm", "-geometry", "40x10+100+100"});
    ASSERT_GT(xterm, 0);
    const xcb_window_t window = session->waitForClientWindow(xterm, std::chrono::seconds(20));
    EXPECT_NE(window, XCB_WINDOW_NONE);
    const auto wmName = session->run({"xprop", "-root", "_NET_WM_NAME"});
    EXPECT_EQ(wmName.exitCode, 0);
    session->terminate(xterm);
    EXPECT_TRUE(session->waitUntil(
        [&] {
            const auto clients = session->clientWindows();
            return std::find(clients.begin(), clients.end(), window) == clients.end();
        },
        std::chrono::seconds(10)));
}

}  // namespace
}  // namespace tovalo::testing
