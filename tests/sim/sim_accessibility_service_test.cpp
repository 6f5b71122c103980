#include "platform/sim/sim_accessibility_service.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/manual_dispatch_runtime.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_running_application.h"

namespace tovalo::sim {
namespace {

class AccessibilityFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        editor = desktop->launchApp("org.example.Editor", "Editor");
        draft = desktop->openWindow(editor, "Draft", Rect{10, 20, 300, 200});
        notes = desktop->openWindow(editor, "Notes", Rect{100, 120, 800, 600});
    }

    SimAccessibilityService& ax() { return desktop->accessibilityService(); }

    std::vector<AXUIElementRef> windowElements() {
        AXValue value;
        EXPECT_EQ(ax().copyAttributeValue(ax().createApplicationElement(pid()),
                                          AXAttribute::windows, value),
                  kAXErrorSuccess);
        auto* list = std::get_if<std::vector<AXUIElementRef>>(&value);
        return list ? *list : std::vector<AXUIElementRef>{};
    }

    std::int64_t windowNumber(const AXUIElementRef& element) {
        AXValue value;
        EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::windowNumber, value),
                  kAXErrorSuccess);
        auto* number = std::get_if<std::int64_t>(&value);
        return number ? *number : -1;
    }

    AXUIElementRef elementOf(WindowID windowID) {
        for (auto& element : windowElements()) {
            if (windowNumber(element) == windowID) {
                return element;
            }
        }
        return nullptr;
    }

    ProcessID pid() const { return editor->processIdentifier(); }

    std::shared_ptr<ManualDispatchRuntime> runtime = ManualDispatchRuntime::make();
    std::shared_ptr<SimDesktop> desktop = SimDesktop::make(runtime);
    std::shared_ptr<SimRunningApplication> editor;
    WindowID draft = 0;
    WindowID notes = 0;
};

TEST_F(AccessibilityFixture, WindowElementsMatchTheWindowServerExactly) {
    WindowID elsewhere = desktop->openWindow(editor, "Elsewhere", Rect{0, 0, 100, 100});
    desktop->moveToDesktop(elsewhere, 2);
    desktop->minimize(draft);

    auto elements = windowElements();
    ASSERT_EQ(elements.size(), 2u);
    // Front to back; minimised windows are listed, windows of other desktops are not.
    EXPECT_EQ(windowNumber(elements[0]), notes);
    EXPECT_EQ(windowNumber(elements[1]), draft);

    AXValue position;
    AXValue size;
    AXValue fullScreen;
    ASSERT_EQ(ax().copyAttributeValue(elements[0], AXAttribute::position, position),
              kAXErrorSuccess);
    ASSERT_EQ(ax().copyAttributeValue(elements[0], AXAttribute::size, size), kAXErrorSuccess);
    ASSERT_EQ(ax().copyAttributeValue(elements[0], AXAttribute::fullScreen, fullScreen),
              kAXErrorSuccess);
    EXPECT_EQ((Rect{std::get<Point>(position), std::get<Size>(size)}),
              desktop->window(notes)->frame);
    EXPECT_FALSE(std::get<bool>(fullScreen));

    desktop->setFullScreen(notes, true);
    ASSERT_EQ(ax().copyAttributeValue(elements[0], AXAttribute::fullScreen, fullScreen),
              kAXErrorSuccess);
    EXPECT_TRUE(std::get<bool>(fullScreen));
    EXPECT_TRUE(elements[0]->isSameElement(*elementOf(notes)));
    EXPECT_FALSE(elements[0]->isSameElement(*elements[1]));
}

TEST_F(AccessibilityFixture, RaiseBringsTheWindowToTheFront) {
    ASSERT_EQ(ax().performAction(elementOf(draft), AXAction::raise), kAXErrorSuccess);
    EXPECT_EQ(desktop->windowsFrontToBack().front().windowID, draft);
    EXPECT_EQ(ax().raisedWindows(), std::vector<WindowID>{draft});
}

TEST_F(AccessibilityFixture, ClosedWindowsAndQuitAppsAreInvalidElements) {
    auto element = elementOf(notes);
    desktop->closeWindow(notes);
    AXValue value;
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::position, value),
              kAXErrorInvalidUIElement);
    EXPECT_EQ(ax().performAction(element, AXAction::raise), kAXErrorInvalidUIElement);

    auto application = ax().createApplicationElement(pid());
    desktop->quitApp(editor);
    EXPECT_EQ(ax().copyAttributeValue(application, AXAttribute::windows, value),
              kAXErrorInvalidUIElement);
}

TEST_F(AccessibilityFixture, UntrustedProcessGetsAPIDisabledEverywhere) {
    auto element = elementOf(notes);
    AXError created = kAXErrorSuccess;
    auto observer = ax().createObserver(
        pid(), [](const AXUIElementRef&, const std::string&) {}, created);
    ASSERT_TRUE(observer);

    desktop->setAccessibilityTrusted(false);
    EXPECT_FALSE(ax().isProcessTrusted(false));
    AXValue value;
    for (const char* attribute : {AXAttribute::windowNumber, AXAttribute::position,
                                  AXAttribute::size, AXAttribute::fullScreen}) {
        EXPECT_EQ(ax().copyAttributeValue(element, attribute, value), kAXErrorAPIDisabled)
            << attribute;
    }
    EXPECT_EQ(
        ax().copyAttributeValue(ax().createApplicationElement(pid()), AXAttribute::windows, value),
        kAXErrorAPIDisabled);
    EXPECT_EQ(ax().performAction(element, AXAction::raise), kAXErrorAPIDisabled);
    EXPECT_EQ(observer->addNotification(element, AXNotification::moved), kAXErrorAPIDisabled);
    AXError error = kAXErrorSuccess;
    EXPECT_EQ(ax().createObserver(pid(), nullptr, error), nullptr);
    EXPECT_EQ(error, kAXErrorAPIDisabled);

    EXPECT_FALSE(ax().isProcessTrusted(true));
    EXPECT_EQ(ax().promptCount(), 1);
}

TEST_F(AccessibilityFixture, InjectedReadFailuresHitOnlyTheirAttribute) {
    auto element = elementOf(notes);
    AXValue value;
    ax().failNextRead(AXAttribute::windowNumber, kAXErrorCannotComplete);
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::windowNumber, value),
              kAXErrorCannotComplete);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(value));
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::position, value), kAXErrorSuccess);
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::windowNumber, value), kAXErrorSuccess);

    ax().failReads(AXAttribute::fullScreen, kAXErrorNoValue);
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::fullScreen, value), kAXErrorNoValue);
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::fullScreen, value), kAXErrorNoValue);
    ax().failReads(AXAttribute::fullScreen, kAXErrorSuccess);
    EXPECT_EQ(ax().copyAttributeValue(element, AXAttribute::fullScreen, value), kAXErrorSuccess);
}

TEST_F(AccessibilityFixture, HiddenElementsAndStaleFramesAreScriptedPerWindow) {
    auto held = elementOf(notes);
    ax().setWindowElementHidden(notes, true);
    EXPECT_EQ(elementOf(notes), nullptr);
    EXPECT_NE(elementOf(draft), nullptr);
    // An element already held still answers.
    EXPECT_EQ(windowNumber(held), notes);
    ax().setWindowElementHidden(notes, false);
    EXPECT_NE(elementOf(notes), nullptr);

    ax().setElementFrameOverride(notes, Rect{1, 2, 3, 4});
    AXValue position;
    AXValue size;
    ASSERT_EQ(ax().copyAttributeValue(held, AXAttribute::position, position), kAXErrorSuccess);
    ASSERT_EQ(ax().copyAttributeValue(held, AXAttribute::size, size), kAXErrorSuccess);
    EXPECT_EQ((Rect{std::get<Point>(position), std::get<Size>(size)}), (Rect{1, 2, 3, 4}));
    EXPECT_EQ(windowNumber(held), notes);
    ax().setElementFrameOverride(notes, std::nullopt);
    ASSERT_EQ(ax().copyAttributeValue(held, AXAttribute::position, position), kAXErrorSuccess);
    EXPECT_EQ(std::get<Point>(position), desktop->window(notes)->frame.origin);
}

TEST_F(AccessibilityFixture, AnInjectedObserverFailureHitsOnlyTheNextCreation) {
    ax().failNextObserverCreation(kAXErrorCannotComplete);
    AXError error = kAXErrorSuccess;
    EXPECT_EQ(ax().createObserver(pid(), nullptr, error), nullptr);
    EXPECT_EQ(error, kAXErrorCannotComplete);
    EXPECT_NE(ax().createObserver(pid(), nullptr, error), nullptr);
    EXPECT_EQ(error, kAXErrorSuccess);
}

// An observer registered for every notification on the "Notes" window.
class ObserverFixture : public AccessibilityFixture {
  protected:
    void SetUp() override {
        AccessibilityFixture::SetUp();
        element = elementOf(notes);
        AXError error = kAXErrorFailure;
        observer = ax().createObserver(
            pid(),
            [this](const AXUIElementRef& source, const std::string& name) {
                EXPECT_TRUE(runtime->isMainThread());
                EXPECT_TRUE(source->isSameElement(*element));
                heard.push_back(name);
            },
            error);
        ASSERT_EQ(error, kAXErrorSuccess);
        for (const char* name :
             {AXNotification::moved, AXNotification::resized, AXNotification::uiElementDestroyed,
              AXNotification::windowMiniaturized, AXNotification::windowDeminiaturized}) {
            ASSERT_EQ(observer->addNotification(element, name), kAXErrorSuccess);
        }
        observer->attachToMainRunLoop();
    }

    AXUIElementRef element;
    std::unique_ptr<AXObserver> observer;
    std::vector<std::string> heard;
};

TEST_F(ObserverFixture, ScriptedChangesArriveInALaterTurnOfTheMainQueue) {
    desktop->moveWindow(notes, 10, 0);
    desktop->resizeWindow(notes, Size{640, 480});
    desktop->setFrame(notes, Rect{0, 0, 320, 240});
    desktop->moveWindow(draft, 5, 5);  // another window: not heard
    desktop->minimize(notes);
    desktop->restore(notes);
    EXPECT_TRUE(heard.empty());

    runtime->runUntilIdle();
    EXPECT_EQ(heard, (std::vector<std::string>{"AXMoved", "AXResized", "AXMoved", "AXResized",
                                               "AXWindowMiniaturized", "AXWindowDeminiaturized"}));
    heard.clear();
    desktop->closeWindow(notes);
    runtime->runUntilIdle();
    EXPECT_EQ(heard, std::vector<std::string>{"AXUIElementDestroyed"});
}

TEST_F(ObserverFixture, NothingArrivesWhileDetachedOrAfterRemoval) {
    desktop->moveWindow(notes, 10, 0);
    observer->detachFromMainRunLoop();  // the queued callback is dropped too
    desktop->moveWindow(notes, 10, 0);
    runtime->runUntilIdle();
    EXPECT_TRUE(heard.empty());

    observer->attachToMainRunLoop();
    EXPECT_EQ(observer->removeNotification(element, AXNotification::moved), kAXErrorSuccess);
    EXPECT_EQ(observer->removeNotification(element, AXNotification::moved),
              kAXErrorNotificationNotRegistered);
    desktop->moveWindow(notes, 10, 0);
    desktop->resizeWindow(notes, Size{10, 10});
    runtime->runUntilIdle();
    EXPECT_EQ(heard, std::vector<std::string>{"AXResized"});

    desktop->resizeWindow(notes, Size{20, 20});
    observer.reset();
    runtime->runUntilIdle();
    EXPECT_EQ(heard.size(), 1u);
}

TEST_F(ObserverFixture, ChangesMadeWhileNotificationsAreOffAreLost) {
    ax().setDeliversNotifications(false);
    desktop->moveWindow(notes, 10, 0);
    desktop->closeWindow(draft);
    runtime->runUntilIdle();
    ax().setDeliversNotifications(true);
    runtime->runUntilIdle();
    EXPECT_TRUE(heard.empty());
    desktop->resizeWindow(notes, Size{10, 10});
    runtime->runUntilIdle();
    EXPECT_EQ(heard, std::vector<std::string>{"AXResized"});
}

TEST_F(ObserverFixture, RegistrationChecksItsArguments) {
    EXPECT_EQ(observer->addNotification(element, AXNotification::moved),
              kAXErrorNotificationAlreadyRegistered);
    EXPECT_EQ(observer->addNotification(element, "AXTitleChanged"),
              kAXErrorNotificationUnsupported);
    auto viewer = desktop->launchApp("org.example.Viewer", "Viewer");
    WindowID photo = desktop->openWindow(viewer, "Photo", Rect{0, 0, 100, 100});
    (void)photo;
    AXValue value;
    ASSERT_EQ(ax().copyAttributeValue(ax().createApplicationElement(viewer->processIdentifier()),
                                      AXAttribute::windows, value),
              kAXErrorSuccess);
    auto foreign = std::get<std::vector<AXUIElementRef>>(value).at(0);
    EXPECT_EQ(observer->addNotification(foreign, AXNotification::moved), kAXErrorIllegalArgument);

    AXError error = kAXErrorSuccess;
    EXPECT_EQ(ax().createObserver(99999, nullptr, error), nullptr);
    EXPECT_EQ(error, kAXErrorIllegalArgument);
}

}  // namespace
}  // namespace tovalo::sim
