#include "platform/qt/qt_panel.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_window_factory.h"

namespace tovalo::qt {
namespace {

class RecordingContent final : public WindowContent {
  public:
    void contentDidAppear(const std::shared_ptr<PlatformWindow>& window) override {
        events.push_back("appear");
        host = window;
    }
    void contentDidDisappear() override { events.push_back("disappear"); }

    std::vector<std::string> events;
    std::weak_ptr<PlatformWindow> host;
};

// Panels on virtual time; each test makes its own.
class QtPanelTest : public ::testing::Test {
  protected:
    std::shared_ptr<QtPanel> makePanel(bool isPanel = true) {
        WindowCreationOptions options;
        options.isPanel = isPanel;
        options.styleMask = isPanel ? WindowStyle::borderless : WindowStyle::titled;
        options.contentRect = Rect(40, 60, 300, 200);
        options.title = "panel";
        auto window = std::dynamic_pointer_cast<QtPanel>(factory_->makeWindow(options));
        EXPECT_TRUE(window);
        return window;
    }

    std::shared_ptr<ManualDispatchRuntime> runtime_ = ManualDispatchRuntime::make();
    std::shared_ptr<QtWindowFactory> factory_ = std::make_shared<QtWindowFactory>(runtime_);
};

TEST_F(QtPanelTest, ClosingRunsObserversOnceThenLetsItsContentGoAndIgnoresLaterCalls) {
    auto panel = makePanel();
    auto content = std::make_shared<RecordingContent>();
    panel->setContent(content);
    EXPECT_EQ(content->host.lock(), panel);
    int closes = 0;
    bool closedWhileObserving = true;
    auto first = panel->observeWillClose([&] {
        ++closes;
        closedWhileObserving = panel->isClosed();
        panel->close();  // again from inside: nothing more
    });
    auto dropped = panel->observeWillClose([&] { ADD_FAILURE() << "removed observer ran"; });
    dropped.reset();
    panel->orderFront();

    panel->close();
    panel->close();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(closedWhileObserving);
    EXPECT_TRUE(panel->isClosed());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(panel->widget(), nullptr);
    EXPECT_EQ(content->events, (std::vector<std::string>{"appear", "disappear"}));
    EXPECT_FALSE(panel->observeWillClose([] {}).isActive());

    // A closed window keeps its last state and ignores changes.
    const Rect frame = panel->frame();
    panel->setFrame(Rect(0, 0, 10, 10), true);
    panel->setAlphaValue(0.2);
    panel->orderFront();
    EXPECT_EQ(frame, Rect(40, 60, 300, 200));
    EXPECT_EQ(panel->frame(), frame);
    EXPECT_DOUBLE_EQ(panel->alphaValue(), 1.0);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(QtPanelTest, ReplacingTheContentTellsTheOldOneFirst) {
    auto panel = makePanel();
    auto a = std::make_shared<RecordingContent>();
    auto b = std::make_shared<RecordingContent>();
    panel->setContent(a);
    panel->setContent(a);
    panel->setContent(b);
    panel->setContent(nullptr);
    EXPECT_EQ(a->events, (std::vector<std::string>{"appear", "disappear"}));
    EXPECT_EQ(b->events, (std::vector<std::string>{"appear", "disappear"}));
}

TEST_F(QtPanelTest, KeepsAlphaWithinRangeAndIgnoresNaN) {
    auto panel = makePanel();
    panel->setAlphaValue(1.7);
    EXPECT_DOUBLE_EQ(panel->alphaValue(), 1.0);
    panel->setAlphaValue(-1);
    EXPECT_DOUBLE_EQ(panel->alphaValue(), 0.0);
    panel->setAlphaValue(std::nan(""));
    EXPECT_DOUBLE_EQ(panel->alphaValue(), 0.0);
}

TEST_F(QtPanelTest, AnimatesLaterOnTheMainQueueFromTheLastPresentedValueToTheTarget) {
    auto panel = makePanel();
    std::vector<double> values;
    int completions = 0;
    const auto apply = [&](double v) { values.push_back(v); };

    // Nothing presented yet: the target is the only value.
    panel->animate({0.5, seconds(0.1), AnimationCurve::linear}, apply, [&] { ++completions; });
    EXPECT_TRUE(values.empty()) << "never within the call";
    runtime_->advanceBy(seconds(0.2));
    runtime_->runUntilIdle();
    EXPECT_EQ(values, std::vector<double>{0.5});
    EXPECT_EQ(completions, 1);

    // From 0.5 to 1.0 over 0.1 s in steps that grow, ending exactly on the target.
    values.clear();
    panel->animate({1.0, seconds(0.1), AnimationCurve::easeOut}, apply, [&] { ++completions; });
    for (int i = 0; i < 20; ++i) {
        runtime_->advanceBy(QtPanel::kAnimationFrameInterval);
        runtime_->runUntilIdle();
    }
    ASSERT_GE(values.size(), 4u);
    EXPECT_GT(values.front(), 0.5);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_DOUBLE_EQ(values.back(), 1.0);
    EXPECT_EQ(completions, 2);
}

TEST_F(QtPanelTest, FinishesAnAnimationAlsoWhenTheWindowGoesAway) {
    auto panel = makePanel();
    double last = -1;
    bool completed = false;
    panel->animate(
        {0.3, seconds(0.05), AnimationCurve::easeIn}, [&](double v) { last = v; },
        [&] { completed = true; });
    panel->close();
    panel.reset();
    runtime_->advanceBy(seconds(1));
    runtime_->runUntilIdle();
    EXPECT_DOUBLE_EQ(last, 0.3);
    EXPECT_TRUE(completed);
}

TEST_F(QtPanelTest, TheApplicationListsItsOpenWindowsFrontToBack) {
    QtApplication application(factory_, nullptr);
    auto back = makePanel();
    auto front = makePanel(false);
    auto hidden = makePanel();
    auto closed = makePanel();
    { auto dropped = makePanel(); }
    back->orderFront();
    front->makeKeyAndOrderFront();
    closed->orderFront();
    closed->close();
    const auto windows = application.windows();
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows[0], front);
    EXPECT_EQ(windows[1], back);
    EXPECT_EQ(windows[2], hidden);

    // Application-wide state the port reports.
    application.setActivationPolicy(ActivationPolicy::accessory);
    EXPECT_EQ(application.activationPolicy(), ActivationPolicy::accessory);
}

TEST(QtApplicationTest, TerminatesOnceAfterItsTerminationSteps) {
    QtApplication application(nullptr, nullptr);
    int steps = 0;
    application.setTerminationHandler([&] { ++steps; });
    application.terminate();
    application.terminate();
    EXPECT_EQ(steps, 1);
}

TEST(QtApplicationTest, ReportsButtonsAsThePortsBitMask) {
    EXPECT_EQ(QtApplication::toButtonMask(Qt::MouseButtons()), 0u);
    EXPECT_EQ(QtApplication::toButtonMask(Qt::LeftButton | Qt::RightButton), 0b11u);
    EXPECT_EQ(QtApplication::toButtonMask(Qt::MiddleButton), 0b100u);
    EXPECT_EQ(QtApplication::fromXButtonState(std::uint16_t{XCB_BUTTON_MASK_1}), 0b1u);
    EXPECT_EQ(QtApplication::fromXButtonState(std::uint16_t{XCB_BUTTON_MASK_3 | XCB_BUTTON_MASK_2}),
              0b110u);
    EXPECT_EQ(QtApplication::fromXButtonState(std::uint16_t{XCB_BUTTON_MASK_4 | 1u}), 0u);
}

}  // namespace
}  // namespace tovalo::qt
