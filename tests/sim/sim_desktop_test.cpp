#include "platform/sim/sim_desktop.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop_appearance.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_workspace.h"
#include "platform/system_notifications.h"

namespace tovalo::sim {
namespace {

// Records every notification of interest on the three centres as "centre:name".
class CentreRecorder {
  public:
    explicit CentreRecorder(const SimDesktop& desktop) {
        const std::vector<const char*> names = {
            SystemNotification::applicationDidBecomeActive,
            SystemNotification::currentLocaleDidChange,
            SystemNotification::sessionDidResignActive,
            SystemNotification::sessionDidBecomeActive,
            SystemNotification::willSleep,
            SystemNotification::didWake,
            SystemNotification::activeSpaceDidChange,
            SystemNotification::didTerminateApplication,
            SystemNotification::interfaceThemeChanged,
            SystemNotification::screenIsLocked,
            SystemNotification::screenIsUnlocked,
            SystemNotification::windowOverviewShown,
            SystemNotification::windowOverviewDismissed,
        };
        const auto& centers = desktop.notificationCenters();
        for (const auto& [label, center] : {std::pair{"default", centers.defaultCenter},
                                            std::pair{"workspace", centers.workspaceCenter},
                                            std::pair{"distributed", centers.distributedCenter}}) {
            for (const char* name : names) {
                tokens_.push_back(center->addObserver(
                    name, [this, prefix = std::string(label)](const Notification& n) {
                        seen.push_back(prefix + ":" + n.name);
                        userInfo.push_back(n.userInfo);
                    }));
            }
        }
    }

    std::vector<std::string> seen;
    std::vector<ValueMap> userInfo;

  private:
    std::vector<ObserverToken> tokens_;
};

class DesktopFixture : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::make(runtime);
};

struct EventCase {
    const char* label;
    std::function<void(SimDesktop&)> script;
    std::string expected;
};

TEST_F(DesktopFixture, SystemEventsPostTheirNamesOnTheirCentres) {
    const std::vector<EventCase> cases = {
        {"lock", [](SimDesktop& d) { d.lockScreen(); }, "distributed:com.apple.screenIsLocked"},
        {"unlock", [](SimDesktop& d) { d.unlockScreen(); },
         "distributed:com.apple.screenIsUnlocked"},
        {"sleep", [](SimDesktop& d) { d.sleep(); }, "workspace:willSleep"},
        {"wake", [](SimDesktop& d) { d.wake(); }, "workspace:didWake"},
        {"switch away", [](SimDesktop& d) { d.switchUserAway(); },
         "workspace:sessionDidResignActive"},
        {"switch back", [](SimDesktop& d) { d.switchUserBack(); },
         "workspace:sessionDidBecomeActive"},
        {"overview", [](SimDesktop& d) { d.showOverview(); }, "distributed:com.apple.expose.awake"},
        {"overview gone", [](SimDesktop& d) { d.dismissOverview(); },
         "distributed:com.apple.expose.dismiss"},
        {"dark", [](SimDesktop& d) { d.setAppearanceDark(true); },
         "distributed:AppleInterfaceThemeChangedNotification"},
        {"desktop switch", [](SimDesktop& d) { d.switchDesktop(2); },
         "workspace:activeSpaceDidChange"},
        {"locale", [](SimDesktop& d) { d.changeLocale(); }, "default:currentLocaleDidChange"},
    };
    for (const auto& c : cases) {
        CentreRecorder recorder(*desktop);
        c.script(*desktop);
        EXPECT_EQ(recorder.seen, std::vector<std::string>{c.expected}) << c.label;
    }
}

TEST_F(DesktopFixture, RepeatedEventsArePostedAsTheyCome) {
    CentreRecorder recorder(*desktop);
    desktop->lockScreen();
    desktop->lockScreen();
    EXPECT_TRUE(desktop->isScreenLocked());
    EXPECT_EQ(recorder.seen.size(), 2u);
    // The appearance is announced only when it changes.
    desktop->setAppearanceDark(false);
    EXPECT_EQ(recorder.seen.size(), 2u);
}

TEST_F(DesktopFixture, QuittingAnAppClosesItsWindowsAndPostsItsProcessIdentifier) {
    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    auto viewer = desktop->launchApp("org.example.Viewer", "Viewer");
    WindowID notes = desktop->openWindow(editor, "Notes", Rect{0, 0, 400, 300});
    WindowID photo = desktop->openWindow(viewer, "Photo", Rect{0, 0, 400, 300});
    CentreRecorder recorder(*desktop);

    EXPECT_TRUE(editor->terminate());

    EXPECT_EQ(recorder.seen, std::vector<std::string>{"workspace:didTerminateApplication"});
    EXPECT_EQ(recorder.userInfo[0].at(SystemNotification::processIdentifierKey).asInt(),
              editor->processIdentifier());
    EXPECT_TRUE(editor->isTerminated());
    EXPECT_FALSE(editor->activate(true));
    EXPECT_FALSE(desktop->window(notes).has_value());
    EXPECT_TRUE(desktop->window(photo).has_value());
    EXPECT_EQ(desktop->workspace()->runningApplication(editor->processIdentifier()), nullptr);
    EXPECT_FALSE(desktop->quitApp(editor));
    EXPECT_EQ(recorder.seen.size(), 1u);
}

TEST_F(DesktopFixture, ActivatingAnAppBringsAllItsWindowsForwardInTheirOrder) {
    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    auto viewer = desktop->launchApp("org.example.Viewer", "Viewer");
    WindowID draft = desktop->openWindow(editor, "Draft", Rect{0, 0, 400, 300});
    WindowID notes = desktop->openWindow(editor, "Notes", Rect{0, 0, 400, 300});
    WindowID photo = desktop->openWindow(viewer, "Photo", Rect{0, 0, 400, 300});

    EXPECT_TRUE(editor->activate(true));

    std::vector<WindowID> order;
    for (const auto& window : desktop->windowsFrontToBack()) {
        order.push_back(window.windowID);
    }
    EXPECT_EQ(order, (std::vector<WindowID>{notes, draft, photo}));
    EXPECT_EQ(desktop->frontmostPID(), editor->processIdentifier());
    EXPECT_EQ(editor->activationCalls(), std::vector<bool>{true});
}

TEST_F(DesktopFixture, WorkspaceFindsAppsByIdentifierAndInstalledPaths) {
    auto first = desktop->launchApp("org.example.Editor", "Editor");
    auto second = desktop->launchApp("org.example.Editor", "Editor");
    desktop->launchApp("org.example.Viewer", "Viewer");
    desktop->installApp("Calculator", "org.example.Calculator", "/System/Calculator.app");
    auto workspace = desktop->workspace();

    auto editors = workspace->runningApplications("org.example.Editor");
    ASSERT_EQ(editors.size(), 2u);
    EXPECT_EQ(editors[0], first);
    EXPECT_EQ(editors[1], second);
    EXPECT_EQ(workspace->runningApplications().front()->processIdentifier(), desktop->selfPID());
    EXPECT_EQ(workspace->fullPathForApplication("Editor"), "/Applications/Editor.app");
    EXPECT_EQ(workspace->fullPathForApplication("Calculator"), "/System/Calculator.app");
    EXPECT_EQ(workspace->fullPathForApplication("Nothing"), std::nullopt);
    EXPECT_EQ(workspace->pathForApplication("org.example.Viewer"), "/Applications/Viewer.app");
    EXPECT_EQ(workspace->iconForFile("/System/Calculator.app")->description(),
              "icon of file /System/Calculator.app");
    EXPECT_EQ(first->icon()->description(), "icon of org.example.Editor");
}

TEST_F(DesktopFixture, FullScreenFillsTheDisplayAndLeavingItRestoresTheFrame) {
    DisplayID second = desktop->addDisplay(Rect{1440, 0, 1920, 1080}, 1.0);
    (void)second;
    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    WindowID notes = desktop->openWindow(editor, "Notes", Rect{1500, 100, 800, 600});

    desktop->setFullScreen(notes, true);
    EXPECT_EQ(desktop->window(notes)->frame, (Rect{1440, 0, 1920, 1080}));
    EXPECT_TRUE(desktop->window(notes)->isFullScreen);

    desktop->setFullScreen(notes, false);
    EXPECT_EQ(desktop->window(notes)->frame, (Rect{1500, 100, 800, 600}));
}

TEST_F(DesktopFixture, PointerAndKeysReachTheirObserversUntilUnsubscribed) {
    std::vector<Point> points;
    std::vector<std::uint16_t> keys;
    auto pointer = desktop->observePointer([&](Point p) { points.push_back(p); });
    auto keyboard = desktop->observeKeys([&](const SimKeyPress& k) { keys.push_back(k.keyCode); });
    desktop->movePointer(Point{10, 20});
    desktop->pressKey(SimKeyPress{53, 0, "\x1b"});
    pointer.reset();
    keyboard.reset();
    desktop->movePointer(Point{30, 40});
    desktop->pressKey(SimKeyPress{36, 0, "\r"});

    EXPECT_EQ(points, std::vector<Point>{(Point{10, 20})});
    EXPECT_EQ(keys, std::vector<std::uint16_t>{53});
    EXPECT_EQ(desktop->pointerLocation(), (Point{30, 40}));
}

}  // namespace
}  // namespace tovalo::sim
