#include "capture/window_server_info.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_window_server.h"

namespace tovalo {
namespace {

constexpr WindowID kWindow = 42;

// Answers every query with a scripted list and remembers how it was asked.
class ScriptedWindowServer final : public WindowServer {
  public:
    std::optional<ValueList> answer;
    WindowListOption lastOptions = 0;
    WindowID lastRelativeWindow = 0;
    std::string lastQueueLabel;

    std::optional<ValueList> copyWindowInfo(WindowListOption options,
                                            WindowID relativeToWindow) override {
        lastOptions = options;
        lastRelativeWindow = relativeToWindow;
        const DispatchQueue* queue = DispatchQueue::current();
        lastQueueLabel = queue ? queue->label() : "";
        return answer;
    }
};

ValueMap boundsOf(double x, double y, double width, double height) {
    return ValueMap{{"X", x}, {"Y", y}, {"Width", width}, {"Height", height}};
}

ValueMap recordWithBounds(Value bounds) {
    return ValueMap{{WindowInfoKey::number, kWindow}, {WindowInfoKey::bounds, std::move(bounds)}};
}

class WindowServerInfoScriptedTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<ScriptedWindowServer> server = std::make_shared<ScriptedWindowServer>();
    WindowServerInfo info{server, runtime};

    void answerWith(ValueMap record) { server->answer = ValueList{Value(std::move(record))}; }
};

TEST_F(WindowServerInfoScriptedTest, SingleWindowQueriesAskForThatWindowOnTheQueue) {
    answerWith(recordWithBounds(boundsOf(1, 2, 3, 4)));

    EXPECT_EQ(info.windowBounds(kWindow), (Rect{1, 2, 3, 4}));
    EXPECT_EQ(server->lastOptions, WindowListOptions::includingWindow);
    EXPECT_EQ(server->lastRelativeWindow, kWindow);
    EXPECT_EQ(server->lastQueueLabel, "com.tovalohq.tovalo.cgwindowinfo");
}

TEST_F(WindowServerInfoScriptedTest, BoundsNeedAllFourNumbers) {
    struct Case {
        const char* name;
        std::optional<ValueList> answer;
        std::optional<Rect> expected;
    };
    ValueMap missingX = boundsOf(1, 2, 3, 4);
    missingX.erase("X");
    ValueMap missingY = boundsOf(1, 2, 3, 4);
    missingY.erase("Y");
    ValueMap missingWidth = boundsOf(1, 2, 3, 4);
    missingWidth.erase("Width");
    ValueMap missingHeight = boundsOf(1, 2, 3, 4);
    missingHeight.erase("Height");
    ValueMap textHeight = boundsOf(1, 2, 3, 4);
    textHeight["Height"] = "4";
    const ValueMap integral{{"X", 10}, {"Y", -20}, {"Width", 300}, {"Height", 200}};
    const ValueMap other{{WindowInfoKey::number, 7}, {WindowInfoKey::bounds, boundsOf(9, 9, 9, 9)}};
    const std::vector<Case> cases = {
        {"fractional", ValueList{recordWithBounds(boundsOf(0.5, 1.5, 800, 600))},
         Rect{0.5, 1.5, 800, 600}},
        {"integers", ValueList{recordWithBounds(integral)}, Rect{10, -20, 300, 200}},
        {"missing X", ValueList{recordWithBounds(missingX)}, std::nullopt},
        {"missing Y", ValueList{recordWithBounds(missingY)}, std::nullopt},
        {"missing Width", ValueList{recordWithBounds(missingWidth)}, std::nullopt},
        {"missing Height", ValueList{recordWithBounds(missingHeight)}, std::nullopt},
        {"text Height", ValueList{recordWithBounds(textHeight)}, std::nullopt},
        {"bounds not a dictionary", ValueList{recordWithBounds("{{1, 2}, {3, 4}}")}, std::nullopt},
        {"no bounds", ValueList{ValueMap{{WindowInfoKey::number, kWindow}}}, std::nullopt},
        {"only the first record counts", ValueList{recordWithBounds(boundsOf(1, 2, 3, 4)), other},
         Rect{1, 2, 3, 4}},
        {"empty list", ValueList{}, std::nullopt},
        {"no answer", std::nullopt, std::nullopt},
        {"not records", ValueList{Value("window"), recordWithBounds(boundsOf(1, 2, 3, 4))},
         std::nullopt},
    };
    for (const Case& c : cases) {
        server->answer = c.answer;
        EXPECT_EQ(info.windowBounds(kWindow), c.expected) << c.name;
    }
}

TEST_F(WindowServerInfoScriptedTest, WindowInfoKeepsOnlyKeysOfTheStatedType) {
    answerWith(ValueMap{
        {WindowInfoKey::number, kWindow},
        {WindowInfoKey::ownerName, "Editor"},
        {WindowInfoKey::ownerPID, 501},
        {WindowInfoKey::layer, "0"},          // text, not a number: left out
        {WindowInfoKey::alpha, 1},            // an integer is an exact floating-point number
        {WindowInfoKey::sharingState, true},  // a Boolean is not a number: left out
        {WindowInfoKey::memoryUsage, 2048.0},
        {WindowInfoKey::bounds, boundsOf(1, 2, 3, 4)},
    });

    const ValueMap expected{
        {"ownerName", "Editor"}, {"ownerPID", 501}, {"alpha", 1.0}, {"memoryUsage", 2048}};
    const auto record = info.windowInfo(kWindow);
    ASSERT_TRUE(record);
    EXPECT_EQ(*record, expected);
    EXPECT_TRUE(record->at("alpha").isDouble());
    EXPECT_TRUE(record->at("memoryUsage").isInt());
}

TEST_F(WindowServerInfoScriptedTest, WindowInfoFallsBackToTheWholeRecord) {
    struct Case {
        const char* name;
        ValueMap record;
    };
    const std::vector<Case> cases = {
        {"none of the six keys",
         ValueMap{{WindowInfoKey::number, kWindow}, {"kCGWindowStoreType", 1}}},
        {"all six with the wrong types", ValueMap{{WindowInfoKey::ownerName, 5},
                                                  {WindowInfoKey::ownerPID, "501"},
                                                  {WindowInfoKey::layer, 0.5},
                                                  {WindowInfoKey::alpha, "1"},
                                                  {WindowInfoKey::sharingState, Value()},
                                                  {WindowInfoKey::memoryUsage, ValueList{}}}},
    };
    for (const Case& c : cases) {
        answerWith(c.record);
        EXPECT_EQ(info.windowInfo(kWindow), c.record) << c.name;
    }
}

TEST_F(WindowServerInfoScriptedTest, WindowListPassesItsArgumentsAndKeepsTheOrder) {
    const ValueMap front{{WindowInfoKey::number, 1}};
    const ValueMap back{{WindowInfoKey::number, 2}};
    server->answer = ValueList{front, back};
    const auto options =
        WindowListOptions::onScreenOnly | WindowListOptions::excludeDesktopElements;

    EXPECT_EQ(info.windowList(options, 9), (ValueList{front, back}));
    EXPECT_EQ(server->lastOptions, options);
    EXPECT_EQ(server->lastRelativeWindow, 9u);

    server->answer = ValueList{};
    EXPECT_EQ(info.windowList(WindowListOptions::all, kNullWindowID), ValueList{});
    server->answer = std::nullopt;
    EXPECT_EQ(info.windowList(WindowListOptions::all, kNullWindowID), std::nullopt);
    server->answer = ValueList{front, Value(3)};
    EXPECT_EQ(info.windowList(WindowListOptions::all, kNullWindowID), std::nullopt);
}

TEST_F(WindowServerInfoScriptedTest, QueryFromATaskOfTheQueueRunsInline) {
    answerWith(recordWithBounds(boundsOf(1, 2, 3, 4)));
    std::optional<Rect> bounds;
    std::optional<ValueList> list;
    info.cgWindowInfoQueue()->async([&] {
        bounds = info.windowBounds(kWindow);
        list = info.windowList(WindowListOptions::all, kNullWindowID);
    });
    runtime->runUntilIdle();

    EXPECT_EQ(bounds, (Rect{1, 2, 3, 4}));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->size(), 1u);
    EXPECT_EQ(server->lastQueueLabel, "com.tovalohq.tovalo.cgwindowinfo");
}

// Against the simulated desktop's window server.
class WindowServerInfoDesktopTest : public ::testing::Test {
  protected:
    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<sim::SimDesktop> desktop = sim::SimDesktop::make(runtime);
    WindowServerInfo info{desktop->windowServer(), runtime};
    std::shared_ptr<sim::SimRunningApplication> editor =
        desktop->launchApp("org.example.Editor", "Editor");
};

TEST_F(WindowServerInfoDesktopTest, BoundsFollowTheWindow) {
    const WindowID notes = desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    EXPECT_EQ(info.windowBounds(notes), (Rect{100, 100, 800, 600}));

    desktop->moveWindow(notes, 10, -5);
    EXPECT_EQ(info.windowBounds(notes), (Rect{110, 95, 800, 600}));

    desktop->closeWindow(notes);
    EXPECT_EQ(info.windowBounds(notes), std::nullopt);
}

TEST_F(WindowServerInfoDesktopTest, WindowInfoReadsTheSixFacts) {
    const WindowID notes = desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    desktop->setLayer(notes, 3);
    desktop->setAlpha(notes, 0.5);
    desktop->setSharingState(notes, 0);

    const auto record = info.windowInfo(notes);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->size(), 6u);
    EXPECT_EQ(record->at("ownerName"), Value("Editor"));
    EXPECT_EQ(record->at("ownerPID"), Value(editor->processIdentifier()));
    EXPECT_EQ(record->at("layer"), Value(3));
    EXPECT_EQ(record->at("alpha"), Value(0.5));
    EXPECT_EQ(record->at("sharingState"), Value(0));
    EXPECT_TRUE(record->contains("memoryUsage"));

    const auto raw = info.rawWindowInfo(notes);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->at(WindowInfoKey::number), Value(notes));
    EXPECT_EQ(raw->at(WindowInfoKey::bounds), Value(boundsOf(100, 100, 800, 600)));
}

TEST_F(WindowServerInfoDesktopTest, NothingWhenTheWindowServerDoesNotAnswer) {
    const WindowID notes = desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    desktop->windowServer()->setAvailable(false);

    EXPECT_EQ(info.windowBounds(notes), std::nullopt);
    EXPECT_EQ(info.windowInfo(notes), std::nullopt);
    EXPECT_EQ(info.rawWindowInfo(notes), std::nullopt);
    EXPECT_EQ(info.windowList(WindowListOptions::all, kNullWindowID), std::nullopt);
    EXPECT_EQ(info.windowInfo(12345), std::nullopt);
}

TEST_F(WindowServerInfoDesktopTest, WindowListIsFrontToBackAndFiltered) {
    const WindowID back = desktop->openWindow(editor, "Back", Rect{0, 0, 400, 300});
    const WindowID front = desktop->openWindow(editor, "Front", Rect{50, 50, 400, 300});
    const WindowID hidden = desktop->openWindow(editor, "Hidden", Rect{90, 90, 400, 300});
    desktop->minimize(hidden);

    const auto list = info.windowList(WindowListOptions::onScreenOnly, kNullWindowID);
    ASSERT_TRUE(list);
    std::vector<Value> numbers;
    for (const Value& record : *list) {
        const Value* number = record.find(WindowInfoKey::number);
        if (number &&
            (*number == Value(back) || *number == Value(front) || *number == Value(hidden))) {
            numbers.push_back(*number);
        }
    }
    EXPECT_EQ(numbers, (std::vector<Value>{Value(front), Value(back)}));
}

}  // namespace
}  // namespace tovalo
