#include "platform/x11/x11_workspace.h"

#include <filesystem>
#include <fstream>

#include "platform/x11/x11_icon_image.h"
#include "platform/x11/x11_window_server.h"
#include "x11_desktop_fixture.h"

namespace tovalo::x11::testing {
namespace {

class X11WorkspaceTest : public X11DesktopTest {
  protected:
    // Installs a desktop entry in the session's XDG_DATA_HOME and indexes that folder.
    std::shared_ptr<const DesktopEntryIndex> installEntry(const std::string& id,
                                                          const std::string& text) {
        const auto dataHome = session_->home() / ".local/share";
        std::filesystem::create_directories(dataHome / "applications");
        std::ofstream(dataHome / "applications" / (id + ".desktop")) << text;
        return DesktopEntryIndex::load({dataHome.string()});
    }
};

TEST_F(X11WorkspaceTest, ResolvesTheApplicationOfAWindowThroughItsDesktopEntry) {
    auto xterm = startXterm("resolved");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    const auto index = installEntry("org.example.Terminal",
                                    "[Desktop Entry]\nType=Application\nName=Example Terminal\n"
                                    "StartupWMClass=XTerm\nIcon=/nonexistent/terminal.png\n");
    X11Workspace workspace(reader_, index);

    const auto app = workspace.runningApplication(xterm.pid);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->processIdentifier(), xterm.pid);
    EXPECT_EQ(app->bundleIdentifier(), "org.example.Terminal");
    EXPECT_EQ(app->localizedName(), "Example Terminal");
    EXPECT_FALSE(app->isTerminated());
    EXPECT_EQ(workspace.runningApplications("org.example.Terminal").size(), 1u);
    EXPECT_EQ(
        workspace.pathForApplication("org.example.Terminal"),
        (session_->home() / ".local/share/applications/org.example.Terminal.desktop").string());
    EXPECT_EQ(workspace.fullPathForApplication("Example Terminal"),
              workspace.pathForApplication("org.example.Terminal"));
    EXPECT_FALSE(workspace.fullPathForApplication("No Such App"));

    // The window server names the owner the same way.
    X11WindowServer server(reader_, index);
    const auto records = server.copyWindowInfo(WindowListOptions::includingWindow, xterm.window);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 1u);
    EXPECT_EQ(*records->front().find(WindowInfoKey::ownerName), Value("Example Terminal"));

    // The entry's icon file does not exist: the window's own pixels stand in.
    ASSERT_EQ(run({"xprop", "-id", hex(xterm.window), "-f", "_NET_WM_ICON", "32c", "-set",
                   "_NET_WM_ICON", "2, 1, 0xffff0000, 0xff00ff00"})
                  .exitCode,
              0);
    const auto icon = std::dynamic_pointer_cast<const X11IconImage>(app->icon());
    ASSERT_TRUE(icon);
    ASSERT_TRUE(icon->hasPixels());
    EXPECT_EQ(icon->size(), (Size{2, 1}));
    EXPECT_EQ(icon->argbPixels(), (std::vector<std::uint32_t>{0xffff0000, 0xff00ff00}));
}

TEST_F(X11WorkspaceTest, WithoutAnEntryTheWindowClassNamesTheApplication) {
    auto xclock = startClient({"xclock", "-geometry", "100x100+50+50"});
    ASSERT_NE(xclock.window, XCB_WINDOW_NONE);
    X11Workspace workspace(reader_, DesktopEntryIndex::load({}));
    const auto app = workspace.runningApplication(xclock.pid);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->bundleIdentifier(), "XClock");
    EXPECT_EQ(app->localizedName(), "XClock");
    ASSERT_TRUE(app->icon());
    const auto all = workspace.runningApplications();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const RunningApplicationRef& candidate) {
        return candidate->processIdentifier() == xclock.pid;
    }));
    EXPECT_FALSE(workspace.runningApplication(0x3fffffff));
}

TEST_F(X11WorkspaceTest, ActivatingAnApplicationActivatesItsMostRecentWindow) {
    auto xterm = startXterm("activate me");
    auto other = startXterm("in front", "30x5+120+120");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_NE(other.window, XCB_WINDOW_NONE);
    ASSERT_EQ(run({"wmctrl", "-i", "-a", hex(other.window)}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil([&] { return reader_->activeWindow() == other.window; }, 10s));

    X11Workspace workspace(reader_, DesktopEntryIndex::load({}));
    const auto app = workspace.runningApplication(xterm.pid);
    ASSERT_TRUE(app);
    EXPECT_TRUE(app->activate(true));
    EXPECT_TRUE(session_->waitUntil([&] { return reader_->activeWindow() == xterm.window; }, 10s));

    stopClient(xterm);
    EXPECT_TRUE(app->isTerminated());
    EXPECT_FALSE(app->activate(true));
}

}  // namespace
}  // namespace tovalo::x11::testing
