#include "capture/window_capture_context_provider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/in_memory_preferences_store.h"
#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_workspace.h"
#include "prefs/notification_name.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUserExcluded = "org.example.Excluded";

struct RefreshResult {
    std::optional<FilteredShareableContent> content;
    bool changed = false;
    bool onMainQueue = false;
};

bool containsWindow(const std::vector<SCWindow>& windows, WindowID windowID) {
    return std::any_of(windows.begin(), windows.end(),
                       [windowID](const SCWindow& w) { return w.windowID == windowID; });
}

std::vector<WindowID> idsOf(const std::vector<SCWindow>& windows) {
    std::vector<WindowID> ids;
    for (const auto& window : windows) {
        ids.push_back(window.windowID);
    }
    return ids;
}

class WindowCaptureContextProviderTest : public ::testing::Test {
  protected:
    void SetUp() override { reporter->start(); }

    // Built on demand so a test can prepare the preferences and the window facts first.
    WindowCaptureContextProvider& provider() {
        if (!provider_) {
            provider_ = WindowCaptureContextProvider::create(
                {runtime, desktop->sharedCaptureService(), windowInfo, desktop->workspace(),
                 desktop->bundleInfo(), preferences, desktop->defaultCenter(), reporter});
            runtime->runUntilIdle();
        }
        return *provider_;
    }

    void requestRefresh() {
        provider().refreshContent(
            [this](const std::optional<FilteredShareableContent>& content, bool changed) {
                results.push_back({content, changed, runtime->mainQueue()->isCurrent()});
            });
    }

    RefreshResult refresh() {
        const std::size_t before = results.size();
        requestRefresh();
        runtime->runUntilIdle();
        EXPECT_EQ(results.size(), before + 1);
        return results.empty() ? RefreshResult{} : results.back();
    }

    WindowID openWindow(const std::string& bundleID, const std::string& name,
                        std::optional<std::string> title, Rect frame = Rect{100, 100, 400, 300}) {
        return desktop->openWindow(desktop->launchApp(bundleID, name), std::move(title), frame);
    }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    std::shared_ptr<InMemoryPreferencesStore> preferences =
        std::make_shared<InMemoryPreferencesStore>();
    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    std::shared_ptr<ErrorReporter> reporter = std::make_shared<ErrorReporter>(
        client, hooks, "https://0123456789abcdef0123456789abcdef@host/42");
    // The window server's facts as the window-information reader gives them.
    WindowCaptureContextProvider::WindowInfoReader windowInfo =
        [desktop = std::weak_ptr<sim::SimDesktop>(desktop)](
            WindowID windowID) -> std::optional<ValueMap> {
        auto state = desktop.lock() ? desktop.lock()->window(windowID) : std::nullopt;
        if (!state) {
            return std::nullopt;
        }
        return ValueMap{{"ownerName", state->ownerName},
                        {"ownerPID", state->ownerPID},
                        {"layer", state->layer},
                        {"alpha", state->alpha},
                        {"sharingState", state->sharingState},
                        {"memoryUsage", state->memoryUsage}};
    };
    std::vector<RefreshResult> results;

  private:
    std::shared_ptr<WindowCaptureContextProvider> provider_;

  protected:
    void destroyProvider() { provider_.reset(); }
};

// ---- The window filter ----

enum class Fate { dropped, excluded, capturable };

struct FilterCase {
    const char* name;
    const char* bundleID;
    const char* appName;
    std::optional<std::string> title;
    Rect frame;
    int layer;
    int sharingState;
    Fate expected;
};

TEST_F(WindowCaptureContextProviderTest, FilterSortsEveryWindowIntoItsList) {
    const Rect normal{100, 100, 400, 300};
    const std::vector<FilterCase> cases = {
        {"ordinary window", "org.example.Editor", "Editor", "Notes", normal, 0, 1,
         Fate::capturable},
        {"menu-bar layer", "org.example.Editor", "Editor", "Menu", normal, 25, 1, Fate::dropped},
        {"below-normal layer", "org.example.Editor", "Editor", "Back", normal, -1, 1,
         Fate::dropped},
        {"layer wins over exclusion", kUserExcluded, "Excluded", "Popup", normal, 3, 0,
         Fate::dropped},
        {"sharing forbidden", "org.example.Editor", "Editor", "Secret", normal, 0, 0,
         Fate::excluded},
        {"sharing forbidden beats tiny", "org.example.Editor", "Editor", "Dot", Rect{0, 0, 10, 10},
         0, 0, Fate::excluded},
        {"sharing forbidden beats own app", "com.tovalohq.tovalo", "Tovalo", "Own secret", normal,
         0, 0, Fate::excluded},
        {"own app", "com.tovalohq.tovalo", "Tovalo", "Own", normal, 0, 1, Fate::dropped},
        {"empty bundle identifier", "", "Nameless", "Anon", normal, 0, 1, Fate::dropped},
        {"blank bundle identifier", " \n", "Blank", "Anon", normal, 0, 1, Fate::dropped},
        {"30 points wide", "org.example.Editor", "Editor", "Narrow", Rect{0, 0, 30, 300}, 0, 1,
         Fate::dropped},
        {"31 points wide", "org.example.Editor", "Editor", "Wide enough", Rect{0, 0, 31, 300}, 0, 1,
         Fate::capturable},
        {"30 points high", "org.example.Editor", "Editor", "Flat", Rect{0, 0, 300, 30}, 0, 1,
         Fate::dropped},
        {"31 points high", "org.example.Editor", "Editor", "High enough", Rect{0, 0, 300, 31}, 0, 1,
         Fate::capturable},
        {"status item title", "org.example.Clock", "Clock", "Clock Item-0", normal, 0, 1,
         Fate::dropped},
        {"status item of an excluded app", kUserExcluded, "Excluded", "Item-0", normal, 0, 1,
         Fate::dropped},
        {"status item by application name", "org.example.Tray", "Tray Item-0", std::nullopt, normal,
         0, 1, Fate::dropped},
        {"built-in exclusion", "com.apple.dock", "Dock", "Dock", normal, 0, 1, Fate::excluded},
        {"utility overlay", "org.flameshot.Flameshot", "Flameshot", "Capture", normal, 0, 1,
         Fate::excluded},
        {"user exclusion", kUserExcluded, "Excluded", "Private", normal, 0, 1, Fate::excluded},
        {"user exclusion after trimming", " org.example.Excluded\n", "Excluded", "Padded", normal,
         0, 1, Fate::excluded},
    };
    preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, {kUserExcluded});

    std::vector<WindowID> ids;
    for (const auto& c : cases) {
        const WindowID id = openWindow(c.bundleID, c.appName, c.title, c.frame);
        ASSERT_TRUE(desktop->setLayer(id, c.layer));
        ASSERT_TRUE(desktop->setSharingState(id, c.sharingState));
        ids.push_back(id);
    }
    const RefreshResult result = refresh();
    ASSERT_TRUE(result.content);
    const auto picker = provider().currentPickerContent();
    ASSERT_TRUE(picker);
    EXPECT_EQ(provider().currentContent(), result.content);

    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const WindowID id = ids[i];
        const bool capturable = containsWindow(result.content->windows, id);
        const bool inPicker = containsWindow(picker->windows, id);
        const bool markedExcluded = picker->excludedWindowIDs.contains(id);
        switch (cases[i].expected) {
            case Fate::dropped:
                EXPECT_FALSE(capturable);
                EXPECT_FALSE(inPicker);
                EXPECT_FALSE(markedExcluded);
                break;
            case Fate::excluded:
                EXPECT_FALSE(capturable);
                EXPECT_TRUE(inPicker);
                EXPECT_TRUE(markedExcluded);
                break;
            case Fate::capturable:
                EXPECT_TRUE(capturable);
                EXPECT_TRUE(inPicker);
                EXPECT_FALSE(markedExcluded);
                break;
        }
    }
}

TEST_F(WindowCaptureContextProviderTest,
       PickerListsCapturableWindowsThenExcludedOnesInServiceOrder) {
    preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, {kUserExcluded});
    const WindowID a = openWindow("org.example.Editor", "Editor", "A");
    const WindowID x = openWindow(kUserExcluded, "Excluded", "X");
    const WindowID b = openWindow("org.example.Viewer", "Viewer", "B");
    const WindowID y = openWindow("com.apple.dock", "Dock", "Y");

    const RefreshResult result = refresh();
    ASSERT_TRUE(result.content);
    // The service lists front to back: the last opened first.
    EXPECT_EQ(idsOf(result.content->windows), (std::vector<WindowID>{b, a}));
    const auto picker = provider().currentPickerContent();
    ASSERT_TRUE(picker);
    EXPECT_EQ(idsOf(picker->windows), (std::vector<WindowID>{b, a, y, x}));
    EXPECT_EQ(picker->excludedWindowIDs, (std::set<WindowID>{x, y}));
    EXPECT_EQ(picker->displays, result.content->displays);
    EXPECT_EQ(result.content->displays.size(), 1u);
}

TEST_F(WindowCaptureContextProviderTest, MissingWindowFactsSkipTheirChecks) {
    const WindowID unknown = openWindow("org.example.Editor", "Editor", "Unknown facts");
    const WindowID partial = openWindow("org.example.Editor", "Editor", "Partial facts");
    const WindowID empty = openWindow("org.example.Editor", "Editor", "Empty facts");
    for (WindowID id : {unknown, partial, empty}) {
        ASSERT_TRUE(desktop->setLayer(id, 25));
        ASSERT_TRUE(desktop->setSharingState(id, 0));
    }
    windowInfo = [=](WindowID id) -> std::optional<ValueMap> {
        if (id == partial) {
            return ValueMap{{"ownerName", "Editor"}};
        }
        if (id == empty) {
            return ValueMap{};
        }
        return std::nullopt;
    };

    const RefreshResult result = refresh();
    ASSERT_TRUE(result.content);
    EXPECT_EQ(idsOf(result.content->windows), (std::vector<WindowID>{empty, partial, unknown}));
}

// ---- Refresh results and change detection ----

TEST_F(WindowCaptureContextProviderTest, ChangedTracksWindowKeysAndDisplaysNotOrder) {
    const WindowID notes = openWindow("org.example.Editor", "Editor", "Notes");
    openWindow("org.example.Viewer", "Viewer", "Photo");

    EXPECT_TRUE(refresh().changed) << "the first content is always a change";
    EXPECT_FALSE(refresh().changed) << "nothing moved";

    ASSERT_TRUE(desktop->raise(notes));
    const RefreshResult reordered = refresh();
    EXPECT_FALSE(reordered.changed);
    ASSERT_TRUE(reordered.content);
    EXPECT_EQ(reordered.content->windows.front().windowID, notes) << "the cache still updates";

    ASSERT_TRUE(desktop->setTitle(notes, "Notes (edited)"));
    EXPECT_TRUE(refresh().changed);

    ASSERT_TRUE(desktop->setTitle(notes, "  Notes (edited)\n"));
    EXPECT_FALSE(refresh().changed) << "titles are compared trimmed";

    ASSERT_TRUE(desktop->moveWindow(notes, 50, 50));
    EXPECT_FALSE(refresh().changed) << "frames are not part of the comparison";

    desktop->addDisplay(Rect{1440, 0, 1920, 1080});
    EXPECT_TRUE(refresh().changed);

    openWindow("com.apple.dock", "Dock", "Dock");
    EXPECT_FALSE(refresh().changed) << "excluded windows are not compared";

    openWindow("org.example.Editor", "Editor", "Another");
    EXPECT_TRUE(refresh().changed);

    provider().invalidateCache();
    EXPECT_FALSE(provider().currentContent());
    EXPECT_FALSE(provider().currentPickerContent());
    EXPECT_TRUE(refresh().changed);
}

TEST_F(WindowCaptureContextProviderTest, CompletionsRunOnTheMainQueueAfterTheCallReturns) {
    openWindow("org.example.Editor", "Editor", "Notes");
    requestRefresh();
    EXPECT_TRUE(results.empty());
    runtime->runUntilIdle();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].onMainQueue);

    desktop->setScreenRecordingAllowed(false);
    refresh();
    EXPECT_TRUE(results.back().onMainQueue);
}

TEST_F(WindowCaptureContextProviderTest, NothingHappensOnceTheProviderIsGone) {
    requestRefresh();
    destroyProvider();
    runtime->runUntilIdle();
    EXPECT_TRUE(results.empty());
    EXPECT_EQ(desktop->captureService().shareableContentRequestCount(), 0);
}

// ---- Failures ----

TEST_F(WindowCaptureContextProviderTest, DeclinedPermissionRetriesEverySecondWithoutReporting) {
    const WindowID notes = openWindow("org.example.Editor", "Editor", "Notes");
    ASSERT_TRUE(refresh().content);
    desktop->setScreenRecordingAllowed(false);

    const RefreshResult first = refresh();
    EXPECT_FALSE(first.content);
    EXPECT_FALSE(first.changed);

    runtime->advanceBy(999ms);
    EXPECT_EQ(results.size(), 2u) << "no retry before a second has passed";
    runtime->advanceBy(1ms);
    EXPECT_EQ(results.size(), 3u);
    runtime->advanceBy(1s);
    EXPECT_EQ(results.size(), 4u);
    EXPECT_FALSE(results.back().content);
    EXPECT_TRUE(client.reports().empty());
    const auto cached = provider().currentContent();
    ASSERT_TRUE(cached) << "failures leave the cache as it was";
    EXPECT_TRUE(containsWindow(cached->windows, notes));

    desktop->setScreenRecordingAllowed(true);
    ASSERT_TRUE(desktop->setTitle(notes, "Granted"));
    runtime->advanceBy(1s);
    ASSERT_EQ(results.size(), 5u);
    ASSERT_TRUE(results.back().content);
    EXPECT_TRUE(results.back().changed);
    const int requests = desktop->captureService().shareableContentRequestCount();
    runtime->advanceBy(10s);
    EXPECT_EQ(results.size(), 5u) << "retries stop once permission is back";
    EXPECT_EQ(desktop->captureService().shareableContentRequestCount(), requests);
}

TEST_F(WindowCaptureContextProviderTest, DeclinedPermissionRetriesStopWithTheProvider) {
    desktop->setScreenRecordingAllowed(false);
    refresh();
    runtime->advanceBy(1s);
    ASSERT_EQ(results.size(), 2u);
    destroyProvider();
    const int requests = desktop->captureService().shareableContentRequestCount();
    runtime->advanceBy(10s);
    EXPECT_EQ(results.size(), 2u);
    EXPECT_EQ(desktop->captureService().shareableContentRequestCount(), requests);
}

TEST_F(WindowCaptureContextProviderTest, OtherErrorsAreReportedOnceWithDomainAndCodeTags) {
    openWindow("org.example.Editor", "Editor", "Notes");
    const auto before = refresh().content;
    ASSERT_TRUE(before);
    const Error error{"com.example.CaptureDomain", -42, "The capture service failed."};
    desktop->captureService().failNextShareableContent(error);

    const RefreshResult failed = refresh();
    EXPECT_FALSE(failed.content);
    EXPECT_FALSE(failed.changed);
    runtime->advanceBy(10s);
    EXPECT_EQ(results.size(), 2u) << "no retry for other errors";
    EXPECT_EQ(provider().currentContent(), before);

    const auto reports = client.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].error, error);
    EXPECT_EQ(reports[0].scope.level(), ReportLevel::error);
    EXPECT_EQ(reports[0].scope.tags(),
              (ReportTags{{"error_domain", "com.example.CaptureDomain"}, {"error_code", "-42"}}));
    const ValueMap& extras = reports[0].scope.extras();
    ASSERT_TRUE(extras.contains("operation"));
    EXPECT_EQ(extras.at("operation"), Value("WindowCaptureContextProvider.refreshContent"));
    ASSERT_TRUE(extras.contains("source_file"));
    EXPECT_EQ(extras.at("source_file"), Value("window_capture_context_provider"));
}

// ---- Exclusions ----

TEST_F(WindowCaptureContextProviderTest, ExcludedAppsReloadAndRefreshOnTheirNotification) {
    const WindowID notes = openWindow("org.example.Editor", "Editor", "Notes");
    ASSERT_TRUE(refresh().content);
    const SCWindow window = provider().currentContent()->windows.at(0);
    EXPECT_FALSE(provider().isExcluded(window));

    // A rewritten preference alone changes nothing until the notification arrives.
    preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, {"org.example.Editor"});
    runtime->runUntilIdle();
    EXPECT_FALSE(provider().isExcluded(window));

    desktop->defaultCenter()->post(NotificationName::excludedAppsDidChange);
    runtime->runUntilIdle();
    EXPECT_TRUE(provider().isExcluded(window));
    const auto content = provider().currentContent();
    const auto picker = provider().currentPickerContent();
    ASSERT_TRUE(content && picker);
    EXPECT_FALSE(containsWindow(content->windows, notes));
    EXPECT_TRUE(containsWindow(picker->windows, notes));
    EXPECT_TRUE(picker->excludedWindowIDs.contains(notes));

    preferences->setString(PreferenceKey::snapshotExcludedAppBundleIDs, "org.example.Editor");
    desktop->defaultCenter()->post(NotificationName::excludedAppsDidChange);
    runtime->runUntilIdle();
    EXPECT_FALSE(provider().isExcluded(window)) << "an unreadable value excludes nothing";
    EXPECT_TRUE(containsWindow(provider().currentContent()->windows, notes));
}

TEST_F(WindowCaptureContextProviderTest, ExcludedAppsAreLoadedAtCreation) {
    preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, {kUserExcluded});
    EXPECT_TRUE(provider().isExcluded(SCWindow{
        1, Rect{0, 0, 400, 300}, "T", SCRunningApplication{kUserExcluded, "Excluded", 9}, true}));
}

struct IsExcludedCase {
    const char* name;
    std::optional<SCRunningApplication> app;
    bool expected;
};

TEST_F(WindowCaptureContextProviderTest, IsExcludedJudgesTheOwningApplication) {
    preferences->setStringList(PreferenceKey::snapshotExcludedAppBundleIDs, {kUserExcluded});
    const std::vector<IsExcludedCase> cases = {
        {"no owning application", std::nullopt, true},
        {"empty name", SCRunningApplication{"org.example.Editor", "", 1}, true},
        {"blank name", SCRunningApplication{"org.example.Editor", " \t\n", 1}, true},
        {"unknown app", SCRunningApplication{"org.example.Editor", "Unknown App", 1}, true},
        {"unknown app padded", SCRunningApplication{"org.example.Editor", " Unknown App ", 1},
         true},
        {"built-in", SCRunningApplication{"com.apple.controlcenter", "Control Centre", 1}, true},
        {"this program", SCRunningApplication{"com.tovalohq.tovalo", "Tovalo", 1}, true},
        {"user excluded", SCRunningApplication{kUserExcluded, "Excluded", 1}, true},
        {"identifier taken as given", SCRunningApplication{" org.example.Excluded", "Excluded", 1},
         false},
        {"ordinary", SCRunningApplication{"org.example.Editor", "Editor", 1}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(provider().isExcluded(SCWindow{7, Rect{0, 0, 400, 300}, "T", c.app, true}),
                  c.expected);
    }
}

}  // namespace
}  // namespace tovalo
