#include "platform/x11/x11_workspace_events.h"

#include "platform/system_notifications.h"
#include "x11_desktop_fixture.h"

namespace tovalo::x11::testing {
namespace {

using X11WorkspaceEventsTest = X11DesktopTest;

TEST_F(X11WorkspaceEventsTest, PostsDesktopChangesAndTerminationsOnce) {
    auto xterm = startXterm("terminating");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    auto center = std::make_shared<NotificationCenter>("workspace");
    auto workspace = std::make_shared<X11Workspace>(reader_, DesktopEntryIndex::load({}));
    X11WorkspaceEvents watcher(events_, reader_, workspace, center);
    EXPECT_TRUE(watcher.watchedProcesses().contains(xterm.pid));

    int spaceChanges = 0;
    std::vector<std::int64_t> terminated;
    auto spaces = center->addObserver(SystemNotification::activeSpaceDidChange,
                                      [&](const Notification&) { ++spaceChanges; });
    auto terminations = center->addObserver(
        SystemNotification::didTerminateApplication, [&](const Notification& notification) {
            terminated.push_back(
                *notification.userInfo.at(SystemNotification::processIdentifierKey).asInt());
        });
    const auto app = workspace->runningApplication(xterm.pid);
    ASSERT_TRUE(app);

    ASSERT_EQ(run({"wmctrl", "-s", "2"}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return spaceChanges == 1; }));
    ASSERT_EQ(run({"wmctrl", "-s", "0"}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return spaceChanges == 2; }));

    const pid_t pid = xterm.pid;
    stopClient(xterm);
    auto processTerminations = [&] { watcher.processTerminations(); };
    ASSERT_TRUE(pumpUntil([&] { return !terminated.empty(); }, 10s,
                          watcher.terminationFileDescriptor(), processTerminations));
    // The window manager drops the windows afterwards: no second post.
    ASSERT_TRUE(session_->waitUntil(
        [&] {
            const auto clients = session_->clientWindows();
            return std::find(clients.begin(), clients.end(), xterm.window) == clients.end();
        },
        10s));
    pumpUntil([] { return false; }, 200ms, watcher.terminationFileDescriptor(),
              processTerminations);
    EXPECT_EQ(terminated, (std::vector<std::int64_t>{pid}));
    EXPECT_TRUE(app->isTerminated());
    EXPECT_FALSE(watcher.watchedProcesses().contains(pid));
}

}  // namespace
}  // namespace tovalo::x11::testing
