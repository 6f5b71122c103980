// The shareable content provider on real threads: isExcluded and the cache readers run on
// several threads while another thread keeps rewriting the excluded applications and a third
// keeps refreshing (whose filter reads the same list inside barrier blocks). Runs under
// ThreadSanitizer too. Nothing sleeps: the main thread runs its queue until every refresh
// has completed.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/in_memory_preferences_store.h"
#include "base/run_loop.h"
#include "capture/window_capture_context_provider.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_workspace.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

constexpr int kWrites = 400;
constexpr int kRefreshes = 100;
constexpr int kReaderThreads = 3;
constexpr const char* kToggled = "org.example.Toggled";
constexpr const char* kOrdinary = "org.example.Ordinary";

SCWindow windowOf(const char* bundleID) {
    return SCWindow{1, Rect{0, 0, 400, 300}, "Window", SCRunningApplication{bundleID, "App", 2},
                    true};
}

TEST(WindowCaptureContextProviderConcurrencyTest, ExcludedListChangesWhileOtherThreadsRead) {
    ScopedDebugLogSink quietLog{[](const DebugLogLine&) {}};
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    auto desktop = sim::SimDesktop::make(runtime);
    desktop->openWindow(desktop->launchApp(kToggled, "Toggled"), "Toggled window",
                        Rect{0, 0, 400, 300});
    desktop->openWindow(desktop->launchApp(kOrdinary, "Ordinary"), "Ordinary window",
                        Rect{50, 50, 400, 300});
    auto preferences = std::make_shared<InMemoryPreferencesStore>();
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    auto reporter = std::make_shared<ErrorReporter>(client, hooks, "");
    auto provider = WindowCaptureContextProvider::create(
        {runtime, desktop->sharedCaptureService(),
         [](WindowID) {
             return std::optional<ValueMap>(ValueMap{{"layer", 0}});
         },
         desktop->workspace(), desktop->bundleInfo(), preferences, desktop->defaultCenter(),
         reporter});

    std::atomic<bool> stopReaders{false};
    std::atomic<int> wrongAnswers{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaderThreads; ++i) {
        readers.emplace_back([&] {
            while (!stopReaders.load()) {
                // Whatever the user list holds, these answers never change.
                if (!provider->isExcluded(windowOf("com.apple.dock")) ||
                    provider->isExcluded(windowOf(kOrdinary))) {
                    ++wrongAnswers;
                }
                (void)provider->isExcluded(windowOf(kToggled));
                if (auto picker = provider->currentPickerContent()) {
                    for (const auto& window : picker->windows) {
                        (void)window.title;
                    }
                }
                (void)provider->currentContent();
            }
        });
    }

    std::atomic<int> completed{0};
    std::thread refresher([&] {
        for (int i = 0; i < kRefreshes; ++i) {
            provider->refreshContent([&completed](const std::optional<FilteredShareableContent>&,
                                                  bool) { ++completed; });
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < kWrites; ++i) {
            std::vector<std::string> excluded{"org.example.Other"};
            if (i % 2 == 0) {
                excluded.push_back(kToggled);
            }
            preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, excluded);
            provider->loadExcludedApps();
        }
        // Last write: the toggled application stays excluded.
        preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, {kToggled});
        provider->loadExcludedApps();
    });

    writer.join();
    refresher.join();
    loop->runUntil([&completed] { return completed.load() == kRefreshes; });
    stopReaders = true;
    for (auto& reader : readers) {
        reader.join();
    }

    EXPECT_EQ(wrongAnswers.load(), 0);
    // A plain read on the lock queue waits for the barrier writes queued before it.
    (void)provider->currentContent();
    EXPECT_TRUE(provider->isExcluded(windowOf(kToggled)));
    EXPECT_FALSE(provider->isExcluded(windowOf(kOrdinary)));

    // A refresh now sees the final list.
    std::atomic<bool> done{false};
    std::optional<FilteredShareableContent> last;
    provider->refreshContent([&](const std::optional<FilteredShareableContent>& content, bool) {
        last = content;
        done = true;
    });
    loop->runUntil([&done] { return done.load(); });
    ASSERT_TRUE(last);
    ASSERT_EQ(last->windows.size(), 1u);
    EXPECT_EQ(last->windows[0].owningApplication->bundleIdentifier, kOrdinary);
    EXPECT_TRUE(client.reports().empty());
}

}  // namespace
}  // namespace tovalo
