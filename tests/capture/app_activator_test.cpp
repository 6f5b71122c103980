#include "capture/app_activator.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "base/manual_dispatch_runtime.h"
#include "capture/window_server_info.h"
#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_ax_element.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_error_reporting_client.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_uncaught_exception_hooks.h"
#include "platform/sim/sim_window_server.h"

namespace tovalo {
namespace {

const Rect kNotesFrame{100, 100, 800, 600};

// A window server that answers whatever list the test gives it.
class ScriptedWindowServer final : public WindowServer {
  public:
    std::optional<ValueList> copyWindowInfo(WindowListOption, WindowID) override { return list; }
    std::optional<ValueList> list;
};

// An editor with "Notes" (800x600 at 100,100) behind "Inbox", an activator over the simulated
// desktop, and the reports and debug lines it leaves.
struct ActivatorWorld {
    ActivatorWorld() { reporter->start(); }

    AppActivator activatorOver(std::shared_ptr<WindowServer> windowServer) {
        return AppActivator({desktop->sharedAccessibilityService(),
                             WindowServerInfo::create(std::move(windowServer), runtime), reporter});
    }

    static WindowID windowOf(const AXUIElementRef& element) {
        const auto* sim = dynamic_cast<const sim::SimAXElement*>(element.get());
        return sim ? sim->windowID() : 0;
    }

    std::vector<std::string> reportMessages() const {
        std::vector<std::string> messages;
        for (const auto& report : client.reports()) {
            messages.push_back(report.message.value_or("(error)"));
        }
        return messages;
    }

    std::vector<std::string> debugMessages() const {
        std::vector<std::string> messages;
        for (const auto& line : lines) {
            messages.push_back(line.message);
        }
        return messages;
    }

    sim::SimAccessibilityService& ax() { return desktop->accessibilityService(); }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    std::shared_ptr<sim::SimRunningApplication> editor =
        desktop->launchApp("org.example.Editor", "Editor");
    WindowID notes = desktop->openWindow(editor, "Notes", kNotesFrame);
    WindowID inbox = desktop->openWindow(editor, "Inbox", Rect{0, 30, 400, 300});

    sim::SimErrorReportingClient client;
    sim::SimUncaughtExceptionHooks hooks;
    std::shared_ptr<ErrorReporter> reporter = std::make_shared<ErrorReporter>(
        client, hooks, "https://0123456789abcdef0123456789abcdef@host/42");
    AppActivator activator = activatorOver(desktop->windowServer());

    std::vector<DebugLogLine> lines;
    ScopedDebugLogSink sink{[this](const DebugLogLine& line) { lines.push_back(line); }};
};

class AppActivatorTest : public ::testing::Test, public ActivatorWorld {};

// The window server's record of the window, changed as given.
std::optional<ValueList> recordOf(const ActivatorWorld& world, WindowID windowID, ValueMap changes,
                                  std::vector<std::string> removed = {}) {
    ValueMap record = sim::SimWindowServer::record(*world.desktop->window(windowID), true);
    for (auto& [key, value] : changes) {
        record.insert_or_assign(key, std::move(value));
    }
    for (const auto& key : removed) {
        record.erase(key);
    }
    return ValueList{Value(std::move(record))};
}

TEST_F(AppActivatorTest, RaisesTheWindowOnExactlyTheWindowServersFrame) {
    const auto element = activator.getAXWindow(notes);
    EXPECT_EQ(windowOf(element), notes);
    EXPECT_EQ(ax().raisedWindows(), std::vector<WindowID>{notes});
    EXPECT_EQ(desktop->windowsOf(editor->processIdentifier()).front().windowID, notes);
    EXPECT_TRUE(reportMessages().empty());
}

TEST_F(AppActivatorTest, OfTwoWindowsOnTheSameFrameTheFirstListedIsRaised) {
    WindowID twin = desktop->openWindow(editor, "Twin", kNotesFrame);
    EXPECT_EQ(windowOf(activator.getAXWindow(notes)), twin);
    EXPECT_EQ(ax().raisedWindows(), std::vector<WindowID>{twin});
}

TEST_F(AppActivatorTest, AFrameOnePointOffMatchesNothingAndIsNotReported) {
    ax().setElementFrameOverride(notes, Rect{101, 100, 800, 600});
    EXPECT_EQ(activator.getAXWindow(notes), nullptr);
    EXPECT_TRUE(ax().raisedWindows().empty());
    EXPECT_TRUE(reportMessages().empty());
#ifndef TOVALO_NO_DEBUG_LOG
    EXPECT_EQ(debugMessages(),
              std::vector<std::string>{"AXExecutor: Did not find matching window"});
#endif
}

TEST_F(AppActivatorTest, WithoutPermissionBothListReadsAreReported) {
    desktop->setAccessibilityTrusted(false);
    EXPECT_EQ(activator.getAXWindow(notes), nullptr);
    EXPECT_EQ(reportMessages(), (std::vector<std::string>{"Failed to copy AX window list",
                                                          "AX window list unavailable"}));
    const auto reports = client.reports();
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& report : reports) {
        EXPECT_EQ(report.scope.level(), ReportLevel::warning);
        const ValueMap& extras = report.scope.extras();
        EXPECT_EQ(extras.at("operation"), Value("AppActivator.getAXWindow"));
        EXPECT_EQ(extras.at("window_id"), Value(notes));
        EXPECT_EQ(extras.at("source_file"), Value("app_activator"));
        EXPECT_TRUE(extras.at("source_line").isInt());
    }
    EXPECT_EQ(reports[0].scope.extras().at("ax_error_code"), Value(kAXErrorAPIDisabled));
    EXPECT_FALSE(reports[1].scope.extras().contains("ax_error_code"));
#ifndef TOVALO_NO_DEBUG_LOG
    EXPECT_EQ(debugMessages(), (std::vector<std::string>{
                                   "AXExecutor: Failed to fetch AX window list, error code: -25211",
                                   "AXExecutor: Failed to fetch AX window list"}));
#endif
}

TEST_F(AppActivatorTest, AFirstListReadThatFailsIsReportedButTheSecondIsUsed) {
    ax().failNextRead(AXAttribute::windows, kAXErrorCannotComplete);
    EXPECT_EQ(windowOf(activator.getAXWindow(notes)), notes);
    EXPECT_EQ(reportMessages(), std::vector<std::string>{"Failed to copy AX window list"});
    EXPECT_EQ(client.reports().at(0).scope.extras().at("ax_error_code"),
              Value(kAXErrorCannotComplete));
    EXPECT_EQ(ax().raisedWindows(), std::vector<WindowID>{notes});
}

TEST(AppActivatorRecordTest, WindowServerRecordsDecideWhetherThereIsAnythingToLookFor) {
    using List = std::function<std::optional<ValueList>(const ActivatorWorld&)>;
    const auto changed = [](ValueMap changes, std::vector<std::string> removed = {}) -> List {
        return [changes, removed](const ActivatorWorld& w) {
            return recordOf(w, w.notes, changes, removed);
        };
    };
    const ValueMap boundsWithoutHeight{{"X", 100}, {"Y", 100}, {"Width", 800}};
    struct Case {
        const char* name;
        List list;
        // The element's frame as accessibility reports it; nullopt for the window's own.
        std::optional<Rect> elementFrame;
        bool found;
        std::vector<std::string> reports;
    };
    const std::vector<std::string> infoFailed = {"AX window info lookup failed"};
    const std::vector<Case> cases = {
        {"no answer", [](auto&) { return std::nullopt; }, std::nullopt, false, infoFailed},
        {"no record", [](auto&) { return ValueList{}; }, std::nullopt, false, infoFailed},
        {"an empty record", [](auto&) { return ValueList{Value(ValueMap{})}; }, std::nullopt, false,
         infoFailed},
        {"no owner", changed({}, {WindowInfoKey::ownerPID}), std::nullopt, false, infoFailed},
        {"an owner that is not a number", changed({{WindowInfoKey::ownerPID, Value("1001")}}),
         std::nullopt, false, infoFailed},
        {"an owner beyond 32 bits",
         changed({{WindowInfoKey::ownerPID, Value(std::int64_t{1} << 40)}}), std::nullopt, false,
         infoFailed},
        {"bounds that are not a record",
         changed({{WindowInfoKey::bounds, Value("wide")}}),
         std::nullopt,
         false,
         {}},
        {"a missing coordinate counts as zero",
         changed({{WindowInfoKey::bounds, Value(boundsWithoutHeight)}}),
         Rect{100, 100, 800, 0},
         true,
         {}},
        {"a missing coordinate is not the element's own",
         changed({{WindowInfoKey::bounds, Value(boundsWithoutHeight)}}),
         std::nullopt,
         false,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActivatorWorld w;
        auto server = std::make_shared<ScriptedWindowServer>();
        server->list = c.list(w);
        if (c.elementFrame) {
            w.ax().setElementFrameOverride(w.notes, *c.elementFrame);
        }
        EXPECT_EQ(ActivatorWorld::windowOf(w.activatorOver(server).getAXWindow(w.notes)),
                  c.found ? w.notes : 0);
        EXPECT_EQ(w.reportMessages(), c.reports);
    }
}

}  // namespace
}  // namespace tovalo
