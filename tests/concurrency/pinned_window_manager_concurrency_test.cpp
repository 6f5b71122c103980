// The pinned window registry under a long random sequence of pins and unpins on real threads:
// unpins also come from other threads, reader threads query the display cache and the pinned
// map throughout, and the registry's invariants are checked against a model after every step.
// Runs under ThreadSanitizer too. Nothing sleeps: the main thread drains its queue up to a
// marker that the last producer queued.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/run_loop.h"
#include "pinning/pinning_world.h"

namespace tovalo {
namespace {

constexpr int kSteps = 3000;
constexpr std::size_t kWindowCount = 12;
constexpr int kReaderThreads = 3;

class PinnedWindowManagerConcurrencyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        secondDisplay = world.describeDisplay(world.desktop->addDisplay(Rect{1440, 0, 1920, 1080}));
        for (std::size_t i = 0; i < kWindowCount; ++i) {
            // Every third window has no title.
            std::optional<std::string> title;
            if (i % 3 != 0) {
                title = "Window " + std::to_string(i);
            }
            const double offset = static_cast<double>(i) * 40;
            windowIDs.push_back(
                world.desktop->openWindow(world.editor, title, Rect{offset, offset, 500, 400}));
        }
        windowIDs.push_back(0);  // no window has it: unpinning it must change nothing
    }

    // Runs everything queued for the main queue so far, and what that queues before it ends.
    void drainMainQueue() {
        std::atomic<bool> reached{false};
        runtime->mainQueue()->async([&reached] { reached = true; });
        loop->runUntil([&reached] { return reached.load(); });
    }

    // Runs `calls` on threads of their own, each queueing its work for the main thread, then
    // drains the main queue up to a marker queued after all of them.
    void runOnOtherThreads(const std::vector<std::function<void()>>& calls) {
        std::vector<std::thread> threads;
        for (const auto& call : calls) {
            threads.emplace_back(call);
        }
        for (auto& thread : threads) {
            thread.join();
        }
        drainMainQueue();
    }

    WindowID randomWindow() {
        return windowIDs[std::uniform_int_distribution<std::size_t>(0, windowIDs.size() - 1)(rng)];
    }
    std::optional<WindowID> randomPinnedWindow() {
        if (expectedPinned.empty()) {
            return std::nullopt;
        }
        auto it = expectedPinned.begin();
        std::advance(it, std::uniform_int_distribution<long>(
                             0, static_cast<long>(expectedPinned.size()) - 1)(rng));
        return *it;
    }
    PinnedOverlayState randomState() {
        PinnedOverlayState state;
        if (std::bernoulli_distribution(0.5)(rng)) {
            state.opacity = std::uniform_int_distribution<int>(0, 10)(rng) / 10.0;
        }
        state.activationMode =
            kAllOverlayActivationModes[std::uniform_int_distribution<std::size_t>(0, 2)(rng)];
        state.buttonPosition =
            kAllOverlayButtonPositions[std::uniform_int_distribution<std::size_t>(0, 3)(rng)];
        return state;
    }

    void forgetInModel(WindowID windowID) {
        if (auto content = world.contentOf(windowID)) {
            formerContents.push_back(content);
        }
        expectedPinned.erase(windowID);
        expectedStates.erase(windowID);
        expectedSnapshots.erase(windowID);
    }

    void checkInvariants() {
        const auto pinned = manager->pinnedWindows().get();
        std::set<WindowID> pinnedIDs;
        std::set<const WindowStreamControlling*> pinnedControllers;
        std::set<const PlatformWindow*> pinnedPanels;
        for (const auto& [windowID, entry] : pinned) {
            pinnedIDs.insert(windowID);
            SCOPED_TRACE("window " + std::to_string(windowID));
            EXPECT_EQ(entry.window.windowID, windowID);
            EXPECT_FALSE(entry.panel->isClosed());
            EXPECT_TRUE(pinnedControllers.insert(entry.controller.get()).second)
                << "each pinned window has a controller of its own";
            pinnedPanels.insert(entry.panel.get());
            auto content =
                std::dynamic_pointer_cast<PlaceholderOverlayContent>(entry.panel->content());
            ASSERT_NE(content, nullptr);
            EXPECT_EQ(content->window.windowID, windowID);
            EXPECT_EQ(content->controller, entry.controller);
            EXPECT_EQ(content->locale, world.appState->preferredLanguage().get());
            auto panel = std::dynamic_pointer_cast<sim::SimPlatformWindow>(entry.panel);
            EXPECT_EQ(panel->willCloseObserverCount(), 1);
            EXPECT_EQ(entry.panel->title(), entry.window.title.value_or("Untitled Window"));
        }
        EXPECT_EQ(pinnedIDs, expectedPinned);
        EXPECT_EQ(manager->windowCloseObserverIDs(), pinnedIDs);
        EXPECT_TRUE(manager->panelsBeingClosed().empty());
        EXPECT_EQ(manager->overlayStates(), expectedStates);
        std::set<WindowID> snapshotIDs;
        for (const auto& [windowID, snapshot] : manager->cachedSnapshots()) {
            snapshotIDs.insert(windowID);
        }
        EXPECT_EQ(snapshotIDs, expectedSnapshots);

        // The display cache, once the writes queued so far are done, matches the pinned map.
        for (WindowID windowID : windowIDs) {
            auto it = pinned.find(windowID);
            const std::optional<DisplayID> expected =
                it == pinned.end() ? std::nullopt
                                   : std::optional<DisplayID>(it->second.display.displayID);
            EXPECT_EQ(manager->pinnedDisplayID(windowID), expected) << "window " << windowID;
        }
        // A panel is open exactly while its window is pinned.
        for (const auto& made : world.desktop->windowFactory()->madeWindows()) {
            EXPECT_EQ(!made->isClosed(), pinnedPanels.contains(made.get()))
                << "panel " << made->windowNumber();
        }
        // A controller that no pinned window owns any more was stopped.
        for (const auto& made : world.controllers->made) {
            if (!pinnedControllers.contains(made.get())) {
                EXPECT_GE(made->stopCount, 1);
            }
        }
    }

    // Thousands of lines nobody reads; writing them from several threads still runs.
    ScopedDebugLogSink quietLog{[](const DebugLogLine&) {}};
    std::shared_ptr<RunLoop> loop = std::make_shared<RunLoop>();
    std::shared_ptr<DispatchRuntime> runtime = DispatchRuntime::makeThreaded(loop);
    PinningWorld world{runtime};
    std::shared_ptr<PinnedWindowManager> manager = world.manager;
    SCDisplay secondDisplay;
    std::vector<WindowID> windowIDs;
    std::mt19937 rng{20261211};

    // The model the manager must agree with after every step.
    std::set<WindowID> expectedPinned;
    std::map<WindowID, PinnedOverlayState> expectedStates;
    std::set<WindowID> expectedSnapshots;
    // Overlays of windows unpinned since, which may still report late.
    std::vector<std::shared_ptr<PlaceholderOverlayContent>> formerContents;
};

TEST_F(PinnedWindowManagerConcurrencyTest, RandomPinsAndUnpinsKeepTheRegistryConsistent) {
    std::atomic<bool> stopReaders{false};
    std::atomic<long> readerMismatches{0};
    std::vector<std::thread> readers;
    const std::set<DisplayID> displayIDs{world.primaryDisplay().displayID, secondDisplay.displayID};
    for (int r = 0; r < kReaderThreads; ++r) {
        readers.emplace_back([&, r, manager = manager, ids = windowIDs] {
            std::size_t i = static_cast<std::size_t>(r);
            while (!stopReaders.load()) {
                const WindowID windowID = ids[i++ % ids.size()];
                const auto displayID = manager->pinnedDisplayID(windowID);
                if (displayID && !displayIDs.contains(*displayID)) {
                    readerMismatches.fetch_add(1);
                }
                (void)manager->pinnedWindows().get().size();
            }
        });
    }

    const std::vector<SCDisplay> displays{world.primaryDisplay(), secondDisplay};
    std::discrete_distribution<int> operation({30, 12, 10, 3, 2, 5, 8, 6, 10, 3, 5, 4});
    for (int step = 0; step < kSteps && !HasFailure(); ++step) {
        const int op = operation(rng);
        SCOPED_TRACE("step " + std::to_string(step) + ", operation " + std::to_string(op));
        switch (op) {
            case 0: {  // pin, possibly with restored settings, possibly again
                const WindowID windowID = randomWindow();
                if (windowID == 0) {
                    break;
                }
                std::optional<PinnedOverlayState> state;
                if (std::bernoulli_distribution(0.5)(rng)) {
                    state = randomState();
                }
                const auto& display =
                    displays[std::uniform_int_distribution<std::size_t>(0, 1)(rng)];
                manager->present(world.describeWindow(windowID), display, state);
                if (expectedPinned.insert(windowID).second && state) {
                    expectedStates[windowID] = *state;
                }
                break;
            }
            case 1: {  // unpin on the main thread (unknown windows included)
                const WindowID windowID = randomWindow();
                forgetInModel(windowID);
                manager->close(windowID);
                break;
            }
            case 2: {  // unpin from another thread
                const WindowID windowID = randomWindow();
                forgetInModel(windowID);
                runOnOtherThreads({[this, windowID] { manager->close(windowID); }});
                break;
            }
            case 3: {  // several threads unpin at once, one of them possibly everything
                std::vector<std::function<void()>> calls;
                for (int t = 0; t < 3; ++t) {
                    const WindowID a = randomWindow();
                    forgetInModel(a);
                    if (t == 0) {
                        calls.emplace_back([this, a] { manager->close(a); });
                        continue;
                    }
                    const WindowID b = randomWindow();
                    forgetInModel(b);
                    calls.emplace_back([this, a, b] { manager->closeWindows({a, b}); });
                }
                if (std::bernoulli_distribution(0.3)(rng)) {
                    for (WindowID windowID : std::set<WindowID>(expectedPinned)) {
                        forgetInModel(windowID);
                    }
                    calls.emplace_back([this] { manager->closeAll(); });
                }
                runOnOtherThreads(calls);
                break;
            }
            case 4: {  // unpin everything, here or from another thread
                for (WindowID windowID : std::set<WindowID>(expectedPinned)) {
                    forgetInModel(windowID);
                }
                if (std::bernoulli_distribution(0.5)(rng)) {
                    manager->closeAll();
                } else {
                    runOnOtherThreads({[this] { manager->closeAll(); }});
                }
                break;
            }
            case 5: {  // unpin a set
                std::set<WindowID> chosen{randomWindow(), randomWindow(), randomWindow()};
                for (WindowID windowID : chosen) {
                    forgetInModel(windowID);
                }
                manager->closeWindows(chosen);
                break;
            }
            case 6: {  // the panel is closed by other means
                if (auto windowID = randomPinnedWindow()) {
                    auto panel = world.panelOf(*windowID);
                    forgetInModel(*windowID);
                    if (std::bernoulli_distribution(0.5)(rng)) {
                        panel->close();
                    } else {
                        world.desktop->closeWindow(panel->windowNumber());
                    }
                }
                break;
            }
            case 7: {  // the overlay finds its source closed
                if (auto windowID = randomPinnedWindow()) {
                    auto content = world.contentOf(*windowID);
                    forgetInModel(*windowID);
                    content->onSourceClosed();
                }
                break;
            }
            case 8: {  // an overlay reports its settings
                if (auto windowID = randomPinnedWindow()) {
                    const auto state = randomState();
                    expectedStates[*windowID] = state;
                    world.contentOf(*windowID)->onStateChanged(state);
                }
                break;
            }
            case 9: {  // an overlay of an unpinned window reports late
                if (!formerContents.empty()) {
                    auto content = formerContents[std::uniform_int_distribution<std::size_t>(
                        0, formerContents.size() - 1)(rng)];
                    if (!expectedPinned.contains(content->window.windowID)) {
                        content->onStateChanged(randomState());
                    }
                }
                if (formerContents.size() > 32) {
                    formerContents.erase(formerContents.begin());
                }
                break;
            }
            case 10: {  // a snapshot arrives, maybe for a window no longer pinned
                const WindowID windowID = randomWindow();
                WindowSnapshotDetails snapshot;
                snapshot.id = windowID;
                snapshot.windowID = windowID;
                manager->storeCachedSnapshot(windowID, snapshot);
                if (expectedPinned.contains(windowID)) {
                    expectedSnapshots.insert(windowID);
                }
                break;
            }
            case 11: {  // the interface language changes
                world.localization->apply(
                    kAllAppLanguages[std::uniform_int_distribution<std::size_t>(0, 2)(rng)]);
                break;
            }
            default:
                break;
        }
        drainMainQueue();
        checkInvariants();
    }

    stopReaders = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(readerMismatches.load(), 0);

    // Every pin placed its panel 0.1 s later, raising this program once (all sources have an
    // owner). Waiting for the last of them leaves no work queued for the main thread, which
    // would otherwise keep the runtime alive past the test.
    const auto placementsDone = [this] {
        return world.desktop->application()->activationCalls().size() ==
               world.controllers->made.size();
    };
    loop->runUntil(placementsDone);
    drainMainQueue();
    if (!HasFailure()) {
        EXPECT_GT(world.controllers->made.size(), 100u) << "the sequence pinned many windows";
    }
}

}  // namespace
}  // namespace tovalo
