// The control commands on the simulated desktop: what a script sees in the window list, where a
// pin lands, the errors for windows that cannot be pinned or unpinned, and completions that run
// once, later, on the main queue.

#include "app/control_commands.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_harness.h"
#include "platform/sim/sim_running_application.h"

namespace tovalo {
namespace {

using PinOutcome = ControlCommands::PinOutcome;

class ControlCommandsTest : public ::testing::Test {
  protected:
    ControlCommandsTest() {
        app.launch();
        commands = ControlCommands::create({
            .runtime = app.runtime,
            .pinnedWindowManager = app.root->pinnedWindowManager(),
            .captureContextProvider = app.root->captureContextProvider(),
            .windowServerInfo = app.root->windowServerInfo(),
            .bundleInfo = app.root->ports().bundleInfo,
        });
        editor = app.desktop->launchApp("org.example.Editor", "Editor");
        browser = app.desktop->launchApp("org.example.Browser", "Browser");
    }

    // A pin leaves the overlay's placement queued for 0.1 s later; that job holds the panel,
    // which holds the runtime, so it must run before the graph can be released.
    ~ControlCommandsTest() override { app.runtime->advanceBy(seconds(1)); }

    // Runs one command and drains the main queue; the completion must run exactly once and
    // not inside the call.
    template <typename Result, typename Call>
    Result run(Call call) {
        std::optional<Result> result;
        int completions = 0;
        call([&](Result r) {
            ++completions;
            result.emplace(std::move(r));
        });
        EXPECT_EQ(completions, 0) << "the completion ran inside the call";
        app.runtime->runUntilIdle();
        EXPECT_EQ(completions, 1);
        return std::move(*result);
    }

    ControlResult<std::vector<ControlWindowRow>> list() {
        return run<ControlResult<std::vector<ControlWindowRow>>>(
            [&](auto done) { commands->list(done); });
    }
    ControlResult<PinOutcome> pin(WindowID id) {
        return run<ControlResult<PinOutcome>>([&](auto done) { commands->pin(id, done); });
    }
    ControlResult<std::monostate> unpin(WindowID id) {
        return run<ControlResult<std::monostate>>([&](auto done) { commands->unpin(id, done); });
    }

    bool isPinned(WindowID id) const { return app.root->pinnedWindowManager()->isPinned(id); }

    AppHarness app;
    std::shared_ptr<ControlCommands> commands;
    std::shared_ptr<sim::SimRunningApplication> editor;
    std::shared_ptr<sim::SimRunningApplication> browser;
};

TEST_F(ControlCommandsTest, ListsCapturableAndPinnedWindowsInNameOrderWithoutOwnWindows) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID docs = app.desktop->openWindow(browser, "  Docs \n", Rect{50, 50, 900, 700});
    const WindowID untitled = app.desktop->openWindow(editor, std::nullopt, Rect{0, 30, 400, 300});
    ASSERT_TRUE(pin(notes).ok());
    // A minimised source is no longer capturable, but it is still pinned and still listed.
    app.desktop->minimize(notes);
    app.runtime->runUntilIdle();

    const auto rows = list();

    ASSERT_TRUE(rows.ok()) << rows.error().message;
    // The overlay panel of the pinned window is this program's own and never listed.
    EXPECT_EQ(rows.value(), (std::vector<ControlWindowRow>{
                                {docs, "Browser", "Docs", false},
                                {notes, "Editor", "Notes", true},
                                {untitled, "Editor", "Untitled Window", false},
                            }));
}

TEST_F(ControlCommandsTest, PinsOnTheDisplayTheWindowOverlapsMost) {
    const DisplayID primary = app.desktop->primaryDisplayID();
    const DisplayID side = app.desktop->addDisplay(Rect{1440, 0, 1920, 1080});
    struct Case {
        const char* name;
        Rect frame;
        DisplayID expected;
    };
    const Case cases[] = {
        {"inside the primary display", Rect{100, 100, 800, 600}, primary},
        {"mostly on the side display", Rect{1300, 100, 800, 600}, side},
        {"mostly on the primary display", Rect{900, 100, 800, 600}, primary},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WindowID id = app.desktop->openWindow(editor, c.name, c.frame);

        const auto result = pin(id);

        ASSERT_TRUE(result.ok()) << result.error().message;
        EXPECT_EQ(result.value(), PinOutcome::pinned);
        const auto pinned = app.root->pinnedWindowManager()->pinnedWindows().get();
        ASSERT_TRUE(pinned.contains(id));
        EXPECT_EQ(pinned.at(id).display.displayID, c.expected);
        EXPECT_EQ(pinned.at(id).window.frame, c.frame);
    }
}

TEST_F(ControlCommandsTest, PinningAPinnedWindowAgainSucceedsWithoutASecondOverlay) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    ASSERT_EQ(pin(notes).value(), PinOutcome::pinned);
    const auto panel = app.root->pinnedWindowManager()->pinnedWindows().get().at(notes).panel;

    const auto again = pin(notes);

    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.value(), PinOutcome::alreadyPinned);
    const auto pinned = app.root->pinnedWindowManager()->pinnedWindows().get();
    ASSERT_EQ(pinned.size(), 1u);
    EXPECT_EQ(pinned.at(notes).panel, panel);
    EXPECT_FALSE(panel->isClosed());
}

TEST_F(ControlCommandsTest, PinRefusesWindowsThatCannotBePinned) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID hidden = app.desktop->openWindow(browser, "Hidden", Rect{0, 30, 400, 300});
    app.desktop->minimize(hidden);
    ASSERT_TRUE(pin(notes).ok());
    const WindowID overlay =
        app.root->pinnedWindowManager()->pinnedWindows().get().at(notes).panel->windowNumber();

    struct Case {
        const char* name;
        WindowID id;
        ControlErrorCode expected;
    };
    const Case cases[] = {
        {"an ID no window has", 424242, ControlErrorCode::unknownWindow},
        {"a minimised window", hidden, ControlErrorCode::notCapturable},
        {"this program's own overlay", overlay, ControlErrorCode::notCapturable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);

        const auto result = pin(c.id);

        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code, c.expected);
        EXPECT_NE(result.error().message.find(std::to_string(c.id)), std::string::npos)
            << result.error().message;
        EXPECT_FALSE(isPinned(c.id));
    }
    EXPECT_EQ(app.root->pinnedWindowManager()->pinnedWindows().get().size(), 1u);
}

TEST_F(ControlCommandsTest, UnreadableWindowsFailOnceEvenWhileTheProviderKeepsRetrying) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    app.desktop->setScreenRecordingAllowed(false);

    int completions = 0;
    std::optional<ControlResult<PinOutcome>> result;
    commands->pin(notes, [&](ControlResult<PinOutcome> r) {
        ++completions;
        result.emplace(std::move(r));
    });
    app.runtime->runUntilIdle();
    // The provider answers again after each retry; the command has answered already.
    app.runtime->advanceBy(seconds(3));
    app.desktop->setScreenRecordingAllowed(true);
    app.runtime->advanceBy(seconds(2));

    EXPECT_EQ(completions, 1);
    ASSERT_TRUE(result && !result->ok());
    EXPECT_EQ(result->error().code, ControlErrorCode::contentUnavailable);
    EXPECT_FALSE(isPinned(notes));
}

TEST_F(ControlCommandsTest, ListFailsWhenTheWindowsCannotBeRead) {
    app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    app.desktop->setScreenRecordingAllowed(false);

    const auto rows = list();

    ASSERT_FALSE(rows.ok());
    EXPECT_EQ(rows.error().code, ControlErrorCode::contentUnavailable);
}

TEST_F(ControlCommandsTest, UnpinClosesAPinnedWindowAndRefusesOneThatIsNot) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    ASSERT_TRUE(pin(notes).ok());
    const auto panel = app.root->pinnedWindowManager()->pinnedWindows().get().at(notes).panel;

    EXPECT_TRUE(unpin(notes).ok());
    EXPECT_FALSE(isPinned(notes));
    EXPECT_TRUE(panel->isClosed());

    const auto again = unpin(notes);
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().code, ControlErrorCode::notPinned);
    EXPECT_EQ(again.error().message, "window " + std::to_string(notes) + " is not pinned");
}

TEST_F(ControlCommandsTest, UnpinAllReportsWhatItUnpinned) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID docs = app.desktop->openWindow(browser, "Docs", Rect{50, 50, 900, 700});
    ASSERT_TRUE(pin(docs).ok());
    ASSERT_TRUE(pin(notes).ok());

    const auto unpinned = run<std::vector<WindowID>>([&](auto done) { commands->unpinAll(done); });

    EXPECT_EQ(unpinned, (std::vector<WindowID>{notes, docs}));
    EXPECT_TRUE(app.root->pinnedWindowManager()->pinnedWindows().get().empty());
    EXPECT_TRUE(run<std::vector<WindowID>>([&](auto done) { commands->unpinAll(done); }).empty());
}

TEST_F(ControlCommandsTest, StatusReportsTheVersionAndThePinnedWindows) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID docs = app.desktop->openWindow(browser, "Docs", Rect{50, 50, 900, 700});
    EXPECT_EQ(run<ControlStatus>([&](auto done) { commands->status(done); }),
              (ControlStatus{"1.0.0", {}}));
    ASSERT_TRUE(pin(docs).ok());
    ASSERT_TRUE(pin(notes).ok());

    EXPECT_EQ(run<ControlStatus>([&](auto done) { commands->status(done); }),
              (ControlStatus{"1.0.0", {notes, docs}}));
}

TEST_F(ControlCommandsTest, CompletionsOfReleasedCommandsAreDropped) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    int completions = 0;
    commands->pin(notes, [&](auto) { ++completions; });
    commands->list([&](auto) { ++completions; });
    commands->status([&](auto) { ++completions; });

    commands.reset();
    app.runtime->runUntilIdle();

    EXPECT_EQ(completions, 0);
    EXPECT_FALSE(isPinned(notes));
}

}  // namespace
}  // namespace tovalo
