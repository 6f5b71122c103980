#include "capture/window_list_utilities.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "capture/canonical_string_order.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_workspace.h"

namespace tovalo {
namespace {

// Two side-by-side displays, the second deliberately with the smaller ID.
const SCDisplay kLeft{5, Rect{0, 0, 1000, 800}, 1000, 800};
const SCDisplay kRight{3, Rect{1000, 0, 1000, 800}, 1000, 800};
const std::vector<SCDisplay> kDisplays{kLeft, kRight};

SCWindow makeWindow(WindowID id, Rect frame, std::optional<std::string> app = "Editor",
                    std::optional<std::string> title = "Notes", bool onScreen = true) {
    SCWindow window{id, frame, std::move(title), std::nullopt, onScreen};
    if (app) {
        window.owningApplication = SCRunningApplication{"org.example." + *app, *app, 100};
    }
    return window;
}

std::vector<WindowID> idsOf(const std::vector<SCWindow>& windows) {
    std::vector<WindowID> ids;
    for (const auto& w : windows) {
        ids.push_back(w.windowID);
    }
    return ids;
}

TEST(WindowListUtilitiesTest, BestDisplayIsTheLargestOverlap) {
    struct Case {
        const char* name;
        Rect frame;
        std::vector<SCDisplay> displays;
        std::optional<DisplayID> expected;
    };
    const std::vector<Case> cases = {
        {"inside one", Rect{100, 100, 200, 200}, kDisplays, 5},
        {"mostly right", Rect{900, 0, 300, 100}, kDisplays, 3},
        {"mostly left", Rect{800, 0, 300, 100}, kDisplays, 5},
        {"equal overlap keeps the earlier display", Rect{900, 0, 200, 100}, kDisplays, 5},
        {"equal overlap, other order", Rect{900, 0, 200, 100}, {kRight, kLeft}, 3},
        {"touching an edge only", Rect{-200, 0, 200, 100}, kDisplays, std::nullopt},
        {"touching the shared edge", Rect{1000, 900, 100, 100}, kDisplays, std::nullopt},
        {"off every display", Rect{5000, 5000, 10, 10}, kDisplays, std::nullopt},
        {"no displays", Rect{0, 0, 10, 10}, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WindowListUtilities::bestDisplayID(makeWindow(1, c.frame), c.displays),
                  c.expected)
            << c.name;
    }
}

// Scripted exclusions and pins.
struct FakeContext {
    std::set<WindowID> excluded;
    std::map<WindowID, DisplayID> pinnedDisplays;
    std::set<WindowID> pinned;

    WindowListContext context() const {
        return WindowListContext{
            [this](const SCWindow& w) { return excluded.contains(w.windowID); },
            [this](WindowID id) -> std::optional<DisplayID> {
                const auto it = pinnedDisplays.find(id);
                if (it == pinnedDisplays.end()) {
                    return std::nullopt;
                }
                return it->second;
            },
            [this](WindowID id) { return pinned.contains(id); }};
    }
};

TEST(WindowListUtilitiesTest, WindowsOnADisplay) {
    FakeContext fake;
    const Rect onLeft{100, 100, 400, 300};
    const Rect onRight{1100, 100, 400, 300};
    const std::vector<SCWindow> windows = {
        makeWindow(1, onLeft, "Editor", "A"),
        makeWindow(2, onLeft, "Editor", "B", /*onScreen=*/false),
        makeWindow(3, onLeft, std::nullopt, "No owner"),
        makeWindow(4, onLeft, "Mail", "Excluded"),
        // Pinned on the left display, since moved to the right and hidden.
        makeWindow(5, onRight, "Editor", "Pinned moved", false),
        // Pinned, no cached display yet, off screen: listed under its best display.
        makeWindow(6, onRight, "Editor", "Pinned uncached", false),
        // Excluded wins even over a pin.
        makeWindow(7, onLeft, "Mail", "Excluded pinned"),
        makeWindow(8, Rect{5000, 5000, 10, 10}, "Editor", "Nowhere"),
    };
    fake.excluded = {4, 7};
    fake.pinnedDisplays = {{5, kLeft.displayID}, {7, kLeft.displayID}};
    fake.pinned = {5, 6, 7};

    EXPECT_EQ(idsOf(WindowListUtilities::windows(kLeft, windows, kDisplays, fake.context())),
              (std::vector<WindowID>{1, 5}));
    EXPECT_EQ(idsOf(WindowListUtilities::windows(kRight, windows, kDisplays, fake.context())),
              (std::vector<WindowID>{6}));
    // Without a context nothing is excluded or pinned.
    EXPECT_EQ(idsOf(WindowListUtilities::windows(kLeft, windows, kDisplays, {})),
              (std::vector<WindowID>{1, 4, 7}));
}

TEST(WindowListUtilitiesTest, WindowOrderIsCaseSensitiveCanonicalAndStable) {
    const Rect frame{100, 100, 400, 300};
    const std::vector<SCWindow> windows = {
        makeWindow(1, frame, "apple", "x"),
        makeWindow(2, frame, "Zebra", "x"),
        makeWindow(3, frame, "Zebra", "b"),
        makeWindow(4, frame, std::nullopt, "x"),      // "Unknown App"
        makeWindow(5, frame, "Zebra", std::nullopt),  // "Untitled Window"
        makeWindow(6, frame, "Caf\u00E9", "t"),       // precomposed é
        makeWindow(7, frame, "Cafe\u0301", "t"),      // e + combining acute: equal
        makeWindow(8, frame, "Cafe", "t"),
        makeWindow(9, frame, "Caff", "t"),     // f (U+0066) < é (U+00E9)
        makeWindow(10, frame, " Zebra", "x"),  // untrimmed: space sorts first
    };
    std::vector<SCWindow> sorted = windows;
    std::stable_sort(sorted.begin(), sorted.end(), WindowListUtilities::windowOrderLess);
    EXPECT_EQ(idsOf(sorted), (std::vector<WindowID>{10, 8, 9, 6, 7, 4, 5, 3, 2, 1}));
}

TEST(WindowListUtilitiesTest, CanonicalComparison) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const std::vector<Case> cases = {
        {"Zed", "apple", -1},
        {"abc", "abc", 0},
        {"ab", "abc", -1},
        {"\u00C5ngstr\u00F6m", "A\u030Angstro\u0308m", 0},
        {"\u212B", "\u00C5", 0},                // the Angstrom sign is Å
        {"a\u0323\u0301", "a\u0301\u0323", 0},  // marks of different classes reorder
        {"\uD55C", "\u1112\u1161\u11AB", 0},    // Hangul syllable and its jamo
        {"\u00E9", "f", 1},
        {"\xFF", "\uFFFD", 0},  // ill-formed bytes read as U+FFFD
        {"\U0001F600", "\uFFFD", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compareCanonically(c.a, c.b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(compareCanonically(c.b, c.a), -c.expected) << c.b << " vs " << c.a;
    }
}

TEST(WindowListUtilitiesTest, EntriesListEachWindowOnceUnderTheFirstClaimingDisplay) {
    FakeContext fake;
    const std::vector<SCWindow> windows = {
        // The same window reported twice with different frames: two displays claim it.
        makeWindow(1, Rect{1100, 100, 400, 300}, "Editor", "Twice"),
        makeWindow(1, Rect{100, 100, 400, 300}, "Editor", "Twice"),
        // Same application and title on both displays: the smaller display ID comes first.
        makeWindow(2, Rect{100, 100, 400, 300}, "Mail", "Inbox"),
        makeWindow(3, Rect{1100, 100, 400, 300}, "Mail", "Inbox"),
        makeWindow(4, Rect{100, 100, 400, 300}, "Browser", "Home"),
    };

    const auto entries = WindowListUtilities::entries(kDisplays, windows, fake.context());

    std::vector<std::pair<WindowID, DisplayID>> listed;
    for (const auto& entry : entries) {
        listed.emplace_back(entry.window.windowID, entry.display.displayID);
    }
    const std::vector<std::pair<WindowID, DisplayID>> expected = {{4, 5}, {1, 5}, {3, 3}, {2, 5}};
    EXPECT_EQ(listed, expected);
}

class WindowPresentationTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    const Workspace& workspace = *desktop->workspace();

    static SCWindow windowOf(std::string bundleID, std::string name,
                             std::optional<std::string> title) {
        return SCWindow{1, Rect{0, 0, 100, 100}, std::move(title),
                        SCRunningApplication{std::move(bundleID), std::move(name), 100}, true};
    }
};

TEST_F(WindowPresentationTest, NamesAndTitlesAreTrimmedWithFallbacks) {
    struct Case {
        const char* name;
        SCWindow window;
        std::string appName;
        std::optional<std::string> title;
    };
    SCWindow noOwner = windowOf("", "", "Notes");
    noOwner.owningApplication.reset();
    const std::vector<Case> cases = {
        {"plain", windowOf("org.example.Editor", "Editor", "Notes"), "Editor", "Notes"},
        {"unicode spaces and line breaks",
         windowOf("org.example.Editor", "\u00A0Editor\u3000\n", "\t Notes \u2028"), "Editor",
         "Notes"},
        {"blank name falls back to the identifier",
         windowOf(" org.example.Editor ", " \u2003", "Notes"), "org.example.Editor", "Notes"},
        {"blank name and identifier", windowOf("\n", "", "Notes"), "Unknown App", "Notes"},
        {"no owning application", noOwner, "Unknown App", "Notes"},
        {"blank title", windowOf("org.example.Editor", "Editor", " \r\n"), "Editor", std::nullopt},
        {"no title", windowOf("org.example.Editor", "Editor", std::nullopt), "Editor",
         std::nullopt},
        {"inner spaces stay", windowOf("b", "My  App", " A  B "), "My  App", "A  B"},
    };
    for (const Case& c : cases) {
        const auto presentation = WindowListUtilities::presentation(c.window, workspace);
        EXPECT_EQ(presentation.appName, c.appName) << c.name;
        EXPECT_EQ(presentation.title, c.title) << c.name;
        EXPECT_TRUE(presentation.icon) << c.name;
    }
}

TEST_F(WindowPresentationTest, IconFallsBackFromRunningAppToInstalledAppToGenericIcon) {
    auto editor = desktop->launchApp("org.example.Editor", "Editor");
    auto blank = desktop->launchApp("org.example.Blank", "Blank");
    blank->setIcon(nullptr);
    desktop->installApp("Viewer", "org.example.Viewer", "/Applications/Viewer.app");

    struct Case {
        const char* name;
        SCWindow window;
        std::string appName;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"running application", windowOf(" org.example.Editor\n", "Editor", "x"), "Editor",
         "icon of org.example.Editor"},
        {"running without icon, installed by name", windowOf("org.example.Blank", "Blank", "x"),
         "Viewer", "icon of file /Applications/Viewer.app"},
        {"not running, installed by name", windowOf("org.example.Viewer", "Viewer", "x"), "Viewer",
         "icon of file /Applications/Viewer.app"},
        {"blank identifier", windowOf("  ", "Viewer", "x"), "Viewer",
         "icon of file /Applications/Viewer.app"},
        {"unknown everywhere", windowOf("org.example.Gone", "Gone", "x"), "Gone",
         "icon of type app"},
    };
    for (const Case& c : cases) {
        const ImageRef icon = WindowListUtilities::appIcon(c.window, c.appName, workspace);
        ASSERT_TRUE(icon) << c.name;
        EXPECT_EQ(icon->description(), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace tovalo
