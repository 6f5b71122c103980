#include "pinning/window_event_observer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "capture/window_server_info.h"
#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_window_server.h"

namespace tovalo {
namespace {

using ::testing::DoubleEq;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const Rect kNotesFrame{100, 100, 800, 600};

std::string framed(const char* what, const Rect& frame) {
    return std::string(what) + " " + rectToString(frame);
}

// An editor with one window, "Notes" (800x600 at 100,100), on a simulated desktop, and an
// observer of that window whose callbacks are written down as short lines ("moved {{...}}",
// "closed", "fullScreen true"), checking that each arrives on the main queue in a later turn.
class WindowEventObserverTest : public ::testing::Test {
  public:
    void SetUp() override { observer = makeObserver(notes); }
    // Deliveries and timers still queued would otherwise outlive the runtime.
    void TearDown() override { runtime->runUntilIdle(); }

    std::shared_ptr<WindowEventObserver> makeObserver(WindowID windowID) {
        auto made =
            WindowEventObserver::create(windowID, {runtime, desktop->sharedAccessibilityService(),
                                                   windowServerInfo, desktop->workspaceCenter()});
        made->setOnWindowMoved([this](const Rect& frame) { record(framed("moved", frame)); });
        made->setOnWindowResized([this](const Rect& frame) { record(framed("resized", frame)); });
        made->setOnWindowClosed([this] { record("closed"); });
        made->setOnMinimized([this] { record("minimized"); });
        made->setOnRestored([this] { record("restored"); });
        made->setOnFullScreenStateChanged([this](bool isFullScreen) {
            record(isFullScreen ? "fullScreen true" : "fullScreen false");
        });
        return made;
    }

    void record(std::string event) {
        events.push_back(std::move(event));
        outOfTurn += (insideCall || !runtime->mainQueue()->isCurrent()) ? 1 : 0;
    }

    // Calls into the observer as the owner would, noting any callback made before it returns.
    void call(const std::function<void()>& fn) {
        insideCall = true;
        fn();
        insideCall = false;
    }

    void start() {
        call([this] { observer->startObserving(); });
        runtime->runUntilIdle();
    }

    // Runs `fn` after `turns` further turns of the main queue, so that work queued before it
    // runs first.
    void afterTurns(int turns, std::function<void()> fn) {
        if (turns == 0) {
            fn();
            return;
        }
        runtime->mainQueue()->async([this, turns, fn] { afterTurns(turns - 1, fn); });
    }

    // The events since the last look.
    std::vector<std::string> takeEvents() { return std::exchange(events, {}); }

    // Moves virtual time to each of the next `count` timer firings (the polls) and returns the
    // time between consecutive ones, the first counted from now.
    std::vector<double> pollGaps(int count) {
        std::vector<double> gaps;
        TimePoint last = runtime->now();
        for (int i = 0; i < count; ++i) {
            const auto next = runtime->manualExecutor().nextTimerDeadline();
            if (!next) {
                break;
            }
            runtime->advanceTo(*next);
            gaps.push_back(toSeconds(*next - last));
            last = *next;
        }
        return gaps;
    }

    sim::SimAccessibilityService& ax() { return desktop->accessibilityService(); }
    std::size_t pendingTimers() const { return runtime->manualExecutor().pendingTimerCount(); }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    std::shared_ptr<WindowServerInfo> windowServerInfo =
        WindowServerInfo::create(desktop->windowServer(), runtime);
    std::shared_ptr<sim::SimRunningApplication> editor =
        desktop->launchApp("org.example.Editor", "Editor");
    WindowID notes = desktop->openWindow(editor, "Notes", kNotesFrame);
    std::shared_ptr<WindowEventObserver> observer;

    std::vector<std::string> events;
    int outOfTurn = 0;
    bool insideCall = false;
};

// ---- Starting ----

TEST_F(WindowEventObserverTest, StartsWithNotificationsAndBasePolling) {
    start();
    EXPECT_TRUE(observer->isObserving().get());
    EXPECT_TRUE(observer->hasAXObserver());
    EXPECT_EQ(observer->currentFrame().get(), kNotesFrame);
    EXPECT_EQ(observer->ownerPID(), editor->processIdentifier());
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 0.8);
    EXPECT_THAT(takeEvents(), IsEmpty());

    // A second start registers nothing more: one move, one report.
    call([this] { observer->startObserving(); });
    EXPECT_EQ(ax().observerCount(editor->processIdentifier()), 1);
    desktop->moveWindow(notes, 1, 0);
    runtime->runUntilIdle();
    // The first look at the full-screen state reports it.
    EXPECT_THAT(takeEvents(),
                ElementsAre(framed("moved", Rect{101, 100, 800, 600}), "fullScreen false"));
    EXPECT_EQ(outOfTurn, 0);
}

TEST_F(WindowEventObserverTest, WithoutAnElementItPollsFastAndReportsTheFullScreenStateLater) {
    ax().setWindowElementHidden(notes, true);
    start();
    EXPECT_TRUE(observer->isObserving().get());
    EXPECT_FALSE(observer->hasAXObserver());
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 0.3);
    EXPECT_EQ(observer->currentFrame().get(), kNotesFrame);

    // Polling alone still reports moves and resizes, and full screen once the element shows up.
    desktop->setFrame(notes, Rect{0, 0, 640, 480});
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre(framed("moved", Rect{0, 0, 640, 480}),
                                          framed("resized", Rect{0, 0, 640, 480})));
    desktop->setFullScreen(notes, true);
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre(framed("resized", Rect{0, 0, 1440, 900})));
    ax().setWindowElementHidden(notes, false);
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre("fullScreen true"));
    EXPECT_EQ(outOfTurn, 0);
}

TEST_F(WindowEventObserverTest, NothingIsObservedWithoutTrustOrAnAccessibilityObserver) {
    struct Case {
        const char* name;
        std::function<void(WindowEventObserverTest&)> arrange;
    };
    const std::vector<Case> cases = {
        {"not trusted", [](auto& t) { t.desktop->setAccessibilityTrusted(false); }},
        {"observer refused",
         [](auto& t) { t.ax().failNextObserverCreation(kAXErrorCannotComplete); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        desktop->setAccessibilityTrusted(true);
        observer = makeObserver(notes);
        c.arrange(*this);
        start();
        EXPECT_FALSE(observer->isObserving().get());
        EXPECT_EQ(pendingTimers(), 0u);
        EXPECT_EQ(ax().observerCount(), 0);
        desktop->moveWindow(notes, 5, 5);
        runtime->advanceBy(seconds(5));
        EXPECT_THAT(takeEvents(), IsEmpty());
    }
}

// ---- Polling back-off ----

TEST_F(WindowEventObserverTest, QuietPollsBackOffAndOnlyAnAccessibilityChangeResetsTheInterval) {
    start();
    EXPECT_THAT(pollGaps(10), Each(DoubleEq(0.8)));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 1.5);
    EXPECT_THAT(pollGaps(20), Each(DoubleEq(1.5)));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 3.0);
    EXPECT_THAT(pollGaps(5), Each(DoubleEq(3.0)));
    // Every poll read the full-screen state; only the first one reported it.
    EXPECT_THAT(takeEvents(), ElementsAre("fullScreen false"));

    // A move that only polling sees starts the streak over but keeps the slow interval.
    ax().setDeliversNotifications(false);
    desktop->moveWindow(notes, 10, 0);
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre(framed("moved", Rect{110, 100, 800, 600})));
    EXPECT_EQ(observer->noChangeStreak(), 0);
    EXPECT_THAT(pollGaps(3), Each(DoubleEq(3.0)));

    // A move that accessibility reports brings the base interval back.
    ax().setDeliversNotifications(true);
    desktop->resizeWindow(notes, Size{700, 500});
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre(framed("resized", Rect{110, 100, 700, 500})));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 0.8);
    EXPECT_THAT(pollGaps(10), Each(DoubleEq(0.8)));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 1.5);
}

TEST_F(WindowEventObserverTest, FastPollingBacksOffThroughTheSameSteps) {
    ax().setWindowElementHidden(notes, true);
    start();
    EXPECT_THAT(pollGaps(10), Each(DoubleEq(0.3)));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 1.5);
    EXPECT_THAT(pollGaps(20), Each(DoubleEq(1.5)));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 3.0);

    // Without an element nothing can reset it.
    desktop->moveWindow(notes, 0, 1);
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre(framed("moved", Rect{100, 101, 800, 600})));
    EXPECT_DOUBLE_EQ(observer->currentPollingInterval(), 3.0);
}

// ---- Moves, minimise, full screen ----

TEST_F(WindowEventObserverTest, AMoveIsNotAResizeAndAResizeIsNotAMove) {
    start();
    desktop->moveWindow(notes, 1, 0);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(),
                ElementsAre(framed("moved", Rect{101, 100, 800, 600}), "fullScreen false"));
    desktop->resizeWindow(notes, Size{801, 600});
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre(framed("resized", Rect{101, 100, 801, 600})));
    // Nothing left over for the polls to report.
    pollGaps(3);
    EXPECT_THAT(takeEvents(), IsEmpty());
    EXPECT_EQ(outOfTurn, 0);
}

TEST_F(WindowEventObserverTest, MinimisePausesPollingAndRestoreReportsTheFullScreenState) {
    start();
    // The full-screen state is not known yet, so minimising also reports "not full screen",
    // after the minimise.
    desktop->minimize(notes);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre("minimized", "fullScreen false"));
    EXPECT_TRUE(observer->isPollingPaused());

    // While minimised, polls report nothing, not even a change of frame.
    ax().setDeliversNotifications(false);
    desktop->setFrame(notes, Rect{300, 200, 500, 400});
    runtime->advanceBy(seconds(5));
    EXPECT_THAT(takeEvents(), IsEmpty());

    ax().setDeliversNotifications(true);
    desktop->restore(notes);
    runtime->runUntilIdle();
    // Restoring reports the state again even though it did not change.
    EXPECT_THAT(takeEvents(), ElementsAre("restored", "fullScreen false"));
    EXPECT_EQ(observer->currentFrame().get(), (Rect{300, 200, 500, 400}));
    EXPECT_FALSE(observer->isPollingPaused());
    pollGaps(2);
    EXPECT_THAT(takeEvents(), IsEmpty());

    // Known to be windowed now: a second minimise reports only itself.
    desktop->minimize(notes);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre("minimized"));
    EXPECT_EQ(outOfTurn, 0);
}

TEST_F(WindowEventObserverTest, EnteringAndLeavingFullScreenIsReportedOnceEach) {
    start();
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre("fullScreen false"));

    // The move is read with its new size already, so the resize that follows changes nothing.
    desktop->setFullScreen(notes, true);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(),
                ElementsAre(framed("moved", Rect{0, 0, 1440, 900}), "fullScreen true"));
    pollGaps(2);
    EXPECT_THAT(takeEvents(), IsEmpty());

    desktop->setFullScreen(notes, false);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre(framed("moved", kNotesFrame), "fullScreen false"));
}

TEST_F(WindowEventObserverTest, DegenerateAndFarAwayFramesAreFollowedLikeAnyOther) {
    const std::vector<Rect> frames = {
        Rect{0, 0, 0, 0},
        Rect{100, 100, -50, -20},
        Rect{-30000, -30000, 640, 480},
        Rect{1e9, 1e9, 1, 1},
    };
    for (const auto& frame : frames) {
        SCOPED_TRACE(rectToString(frame));
        notes = desktop->openWindow(editor, "Odd", frame);
        observer = makeObserver(notes);
        start();
        EXPECT_TRUE(observer->hasAXObserver());
        EXPECT_EQ(observer->currentFrame().get(), frame);
        desktop->moveWindow(notes, 1, 1);
        runtime->runUntilIdle();
        EXPECT_THAT(takeEvents(),
                    ElementsAre(framed("moved", frame.offsetBy(1, 1)), "fullScreen false"));
        ax().setDeliversNotifications(false);
        desktop->resizeWindow(notes, Size{-1, -1});
        pollGaps(1);
        EXPECT_THAT(takeEvents(), ElementsAre(framed(
                                      "resized", Rect{frame.offsetBy(1, 1).origin, Size{-1, -1}})));
        ax().setDeliversNotifications(true);
    }
    EXPECT_EQ(outOfTurn, 0);
}

TEST_F(WindowEventObserverTest, AWindowServerThatMissesOneAnswerEndsTheWatchOnce) {
    // The list cannot tell a failed query from a window that left it: the window counts as gone.
    start();
    desktop->windowServer()->failNextQuery();
    pollGaps(1);
    EXPECT_THAT(takeEvents(), ElementsAre("closed"));
    EXPECT_FALSE(observer->isObserving().get());
    runtime->advanceBy(seconds(5));
    EXPECT_THAT(takeEvents(), IsEmpty());
}

// ---- Closing ----

TEST_F(WindowEventObserverTest, AWindowThatGoesAwayIsReportedClosedExactlyOnce) {
    struct Case {
        const char* name;
        std::function<void(WindowEventObserverTest&)> beforeStart;
        std::function<void(WindowEventObserverTest&)> afterStart;
        std::function<void(WindowEventObserverTest&)> act;
        // How long until the close is noticed: at once, or at the next poll.
        double noticedAfter;
    };
    const auto nothing = [](WindowEventObserverTest&) {};
    const auto silent = [](WindowEventObserverTest& t) { t.ax().setDeliversNotifications(false); };
    const auto closeNotes = [](WindowEventObserverTest& t) { t.desktop->closeWindow(t.notes); };
    const auto quitEditor = [](WindowEventObserverTest& t) { t.desktop->quitApp(t.editor); };
    const std::vector<Case> cases = {
        {"element destroyed", nothing, nothing, closeNotes, 0.0},
        {"gone from the window list", nothing, silent, closeNotes, 0.8},
        {"owner quits", nothing, nothing, quitEditor, 0.0},
        {"owner quits without a notification from its window", nothing, silent, quitEditor, 0.0},
        {"polling only", [](auto& t) { t.ax().setWindowElementHidden(t.notes, true); }, nothing,
         closeNotes, 0.3},
        {"vanishes while minimised", nothing,
         [](auto& t) {
             t.desktop->minimize(t.notes);
             t.runtime->runUntilIdle();
             t.takeEvents();
         },
         closeNotes, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ax().setDeliversNotifications(true);
        editor = desktop->launchApp("org.example.Editor", "Editor");
        notes = desktop->openWindow(editor, "Notes", kNotesFrame);
        observer = makeObserver(notes);
        c.beforeStart(*this);
        start();
        c.afterStart(*this);

        c.act(*this);
        runtime->runUntilIdle();
        if (c.noticedAfter > 0) {
            EXPECT_THAT(takeEvents(), IsEmpty());
            runtime->advanceBy(seconds(c.noticedAfter));
        }
        EXPECT_THAT(takeEvents(), ElementsAre("closed"));
        EXPECT_FALSE(observer->isObserving().get());
        EXPECT_EQ(pendingTimers(), 0u);
        EXPECT_EQ(ax().observerCount(), 0);

        // Whatever else was still on its way says nothing more.
        runtime->advanceBy(seconds(10));
        EXPECT_THAT(takeEvents(), IsEmpty());
        EXPECT_EQ(outOfTurn, 0);
    }
}

TEST_F(WindowEventObserverTest, AnotherApplicationQuittingChangesNothing) {
    start();
    auto viewer = desktop->launchApp("org.example.Viewer", "Viewer");
    desktop->openWindow(viewer, "Photo", Rect{0, 0, 100, 100});
    desktop->quitApp(viewer);
    runtime->advanceBy(seconds(2));
    EXPECT_TRUE(observer->isObserving().get());
    EXPECT_THAT(takeEvents(), ElementsAre("fullScreen false"));
}

TEST_F(WindowEventObserverTest, ANotificationForAWindowAlreadyGoneReportsOnlyTheClose) {
    start();
    desktop->moveWindow(notes, 50, 0);
    desktop->resizeWindow(notes, Size{10, 10});
    desktop->closeWindow(notes);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre("closed"));
}

TEST_F(WindowEventObserverTest, NotificationsOnTheirWayWhenObservingStopsAreDropped) {
    start();
    desktop->moveWindow(notes, 50, 0);
    desktop->minimize(notes);
    // The service hands both to the observer, which passes them on in a later turn; by then the
    // owner has stopped listening.
    afterTurns(1, [this] { observer->stopObserving(); });
    runtime->advanceBy(seconds(5));
    EXPECT_THAT(takeEvents(), IsEmpty());
    EXPECT_EQ(pendingTimers(), 0u);

    // Stopping keeps what was learnt; observing again starts afresh.
    EXPECT_EQ(observer->currentFrame().get(), kNotesFrame);
    desktop->restore(notes);
    start();
    EXPECT_EQ(observer->currentFrame().get(), (Rect{150, 100, 800, 600}));
    desktop->moveWindow(notes, 0, 50);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(),
                ElementsAre(framed("moved", Rect{150, 150, 800, 600}), "fullScreen false"));
}

// ---- Lifetime ----

TEST_F(WindowEventObserverTest, NothingRunsAfterTheObserverIsReleased) {
    struct Case {
        const char* name;
        std::function<void(WindowEventObserverTest&)> act;
        // Turns of the main queue the event travels before the observer goes.
        int turnsBeforeRelease;
    };
    const auto move = [](WindowEventObserverTest& t) { t.desktop->moveWindow(t.notes, 5, 0); };
    const std::vector<Case> cases = {
        {"a move still with the service", move, 0},
        {"a move handed to the observer", move, 1},
        {"a move on its way to the owner", move, 2},
        {"a minimise handed to the observer", [](auto& t) { t.desktop->minimize(t.notes); }, 1},
        {"the owner quitting", [](auto& t) { t.desktop->quitApp(t.editor); }, 1},
        {"a close on its way to the owner", [](auto& t) { t.desktop->closeWindow(t.notes); }, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        editor = desktop->launchApp("org.example.Editor", "Editor");
        notes = desktop->openWindow(editor, "Notes", kNotesFrame);
        ax().setDeliversNotifications(true);
        observer = makeObserver(notes);
        start();
        c.act(*this);
        std::weak_ptr<WindowEventObserver> gone = observer;
        afterTurns(c.turnsBeforeRelease, [this] { observer.reset(); });
        runtime->advanceBy(seconds(5));
        EXPECT_TRUE(gone.expired());
        EXPECT_THAT(takeEvents(), IsEmpty());
        EXPECT_EQ(pendingTimers(), 0u);
        EXPECT_EQ(ax().observerCount(), 0);
    }
}

TEST_F(WindowEventObserverTest, ReleasedWhileAPollPublishesTheNewFrameItReportsNothing) {
    start();
    ax().setDeliversNotifications(false);
    desktop->moveWindow(notes, 5, 0);
    auto subscription =
        observer->currentFrame().subscribe([this](const Rect&) { observer.reset(); });
    runtime->advanceBy(seconds(5));
    EXPECT_EQ(observer, nullptr);
    EXPECT_THAT(takeEvents(), IsEmpty());
    EXPECT_EQ(pendingTimers(), 0u);
}

TEST_F(WindowEventObserverTest, TheOwnerMayReleaseTheObserverFromItsOwnCallbacks) {
    start();
    observer->setOnWindowClosed([this] {
        record("closed");
        observer.reset();
    });
    observer->setOnMinimized([this] {
        record("minimized");
        observer->setOnMinimized(nullptr);
        observer->stopObserving();
    });
    desktop->minimize(notes);
    runtime->runUntilIdle();
    EXPECT_THAT(takeEvents(), ElementsAre("minimized", "fullScreen false"));
    EXPECT_FALSE(observer->isObserving().get());

    start();
    desktop->closeWindow(notes);
    runtime->advanceBy(seconds(2));
    EXPECT_THAT(takeEvents(), ElementsAre("closed"));
    EXPECT_EQ(observer, nullptr);
    EXPECT_EQ(pendingTimers(), 0u);
}

// ---- Interval policy ----

TEST(PollingIntervalPolicyTest, TimerToleranceIsHalfTheIntervalButAtLeastAFifthOfASecond) {
    EXPECT_EQ(PollingIntervalPolicy::timerTolerance(0.3), seconds(0.2));
    EXPECT_EQ(PollingIntervalPolicy::timerTolerance(0.4), seconds(0.2));
    EXPECT_EQ(PollingIntervalPolicy::timerTolerance(0.8), seconds(0.4));
    EXPECT_EQ(PollingIntervalPolicy::timerTolerance(3.0), seconds(1.5));
}

TEST(PollingIntervalPolicyTest, BackOffStepsAreSkippedWhenAlreadyPollingThatSlowly) {
    PollingIntervalPolicy policy;
    policy.pollingStarted(1.5);
    for (int i = 1; i < 30; ++i) {
        EXPECT_EQ(policy.pollSawNoChange(), std::nullopt) << i;
    }
    EXPECT_EQ(policy.pollSawNoChange(), 3.0);
    policy.pollingStarted(3.0);
    EXPECT_EQ(policy.pollSawNoChange(), std::nullopt);

    // Near enough to the base interval counts as the base interval.
    policy.pollingStarted(0.84);
    EXPECT_EQ(policy.accessibilitySawChange(), std::nullopt);
    EXPECT_EQ(policy.noChangeStreak(), 0);
    policy.pollingStarted(0.86);
    EXPECT_EQ(policy.accessibilitySawChange(), 0.8);
}

}  // namespace
}  // namespace tovalo
