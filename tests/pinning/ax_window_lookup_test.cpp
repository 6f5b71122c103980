#include "pinning/ax_window_lookup.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "capture/window_server_info.h"
#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_ax_element.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_window_server.h"

namespace tovalo {
namespace {

const Rect kNotesFrame{100, 100, 800, 600};

// "Notes" of an editor, with "Twin", a window of the same editor on exactly the same frame, in
// front of it, so only the window number tells the two apart.
struct LookupWorld {
    sim::SimAccessibilityService& ax() { return desktop->accessibilityService(); }
    AXWindowLookup lookup() { return AXWindowLookup(ax(), *windowServerInfo); }

    // The window an element stands for; 0 for none.
    static WindowID windowOf(const AXUIElementRef& element) {
        const auto* sim = dynamic_cast<const sim::SimAXElement*>(element.get());
        return sim ? sim->windowID() : 0;
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    std::shared_ptr<WindowServerInfo> windowServerInfo =
        WindowServerInfo::create(desktop->windowServer(), runtime);
    std::shared_ptr<sim::SimRunningApplication> editor =
        desktop->launchApp("org.example.Editor", "Editor");
    WindowID notes = desktop->openWindow(editor, "Notes", kNotesFrame);
    WindowID twin = desktop->openWindow(editor, "Twin", kNotesFrame);
};

TEST(AXWindowLookupTest, FindsByWindowNumberFirstThenByExactFrame) {
    struct Case {
        const char* name;
        std::function<void(LookupWorld&)> arrange;
        // Which window's element comes back: a window ID, or 0 for none.
        std::function<WindowID(const LookupWorld&)> expected;
    };
    const auto notesWindow = [](const LookupWorld& t) { return t.notes; };
    const auto twinWindow = [](const LookupWorld& t) { return t.twin; };
    const auto none = [](const LookupWorld&) { return WindowID{0}; };
    const auto numbersUnreadable = [](LookupWorld& t) {
        t.ax().failReads(AXAttribute::windowNumber, kAXErrorAttributeUnsupported);
    };
    const std::vector<Case> cases = {
        {"the number wins over a front window on the same frame", [](auto&) {}, notesWindow},
        {"without numbers the first element on the exact frame is taken", numbersUnreadable,
         twinWindow},
        {"without numbers a frame one point off matches nothing",
         [&](LookupWorld& t) {
             numbersUnreadable(t);
             t.ax().setElementFrameOverride(t.twin, Rect{101, 100, 800, 600});
             t.ax().setElementFrameOverride(t.notes, Rect{100, 100, 800, 599});
         },
         none},
        {"an element the application does not expose leaves the twin on its frame",
         [](auto& t) { t.ax().setWindowElementHidden(t.notes, true); }, twinWindow},
        {"an element the application does not expose, alone on its frame",
         [](auto& t) {
             t.ax().setWindowElementHidden(t.notes, true);
             t.desktop->closeWindow(t.twin);
         },
         none},
        {"an unreadable window list",
         [](auto& t) { t.ax().failReads(AXAttribute::windows, kAXErrorCannotComplete); }, none},
        {"no permission", [](auto& t) { t.desktop->setAccessibilityTrusted(false); }, none},
        {"a window on another desktop leaves the twin on its frame",
         [](auto& t) { t.desktop->moveToDesktop(t.notes, 2); }, twinWindow},
        {"a closed window", [](auto& t) { t.desktop->closeWindow(t.notes); }, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LookupWorld t;
        c.arrange(t);
        EXPECT_EQ(LookupWorld::windowOf(t.lookup().findAXWindow(t.notes)), c.expected(t));
    }
}

TEST(AXWindowLookupTest, AnElementThatAnswersNothingNeverPassesForAWindowAtTheOrigin) {
    LookupWorld t;
    // A zero-sized window at the origin that the application does not expose, and elements whose
    // position and size cannot be read: none of them is that window.
    WindowID ghost = t.desktop->openWindow(t.editor, "Ghost", Rect{0, 0, 0, 0});
    t.ax().setWindowElementHidden(ghost, true);
    t.ax().failReads(AXAttribute::windowNumber, kAXErrorAttributeUnsupported);
    t.ax().failReads(AXAttribute::position, kAXErrorNoValue);
    t.ax().failReads(AXAttribute::size, kAXErrorNoValue);
    EXPECT_EQ(t.lookup().findAXWindow(ghost), nullptr);
}

TEST(AXWindowLookupTest, OwnerIsTheWindowServersOwnerOfTheWindow) {
    LookupWorld t;
    EXPECT_EQ(t.lookup().ownerPID(t.notes), t.editor->processIdentifier());
    EXPECT_EQ(t.lookup().ownerPID(9999), 0);
    t.desktop->windowServer()->failNextQuery();
    EXPECT_EQ(t.lookup().ownerPID(t.notes), 0);
}

}  // namespace
}  // namespace tovalo
