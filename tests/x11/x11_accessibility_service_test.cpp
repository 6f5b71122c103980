#include "platform/x11/x11_accessibility_service.h"

#include "platform/x11/x11_ax_element.h"
#include "platform/x11/x11_ax_observer.h"
#include "x11_desktop_fixture.h"

namespace tovalo::x11::testing {
namespace {

class X11AccessibilityServiceTest : public X11DesktopTest {
  protected:
    void SetUp() override {
        X11DesktopTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        service_ = std::make_unique<X11AccessibilityService>(events_, reader_, runtime_);
    }

    AXUIElementRef windowElement(pid_t pid, xcb_window_t window) {
        AXValue value;
        if (service_->copyAttributeValue(service_->createApplicationElement(pid),
                                         AXAttribute::windows, value) != kAXErrorSuccess) {
            return nullptr;
        }
        for (const auto& element : std::get<std::vector<AXUIElementRef>>(value)) {
            AXValue number;
            if (service_->copyAttributeValue(element, AXAttribute::windowNumber, number) ==
                    kAXErrorSuccess &&
                std::get<std::int64_t>(number) == window) {
                return element;
            }
        }
        return nullptr;
    }

    std::optional<Rect> axFrame(const AXUIElementRef& element) {
        AXValue position;
        AXValue size;
        if (service_->copyAttributeValue(element, AXAttribute::position, position) !=
                kAXErrorSuccess ||
            service_->copyAttributeValue(element, AXAttribute::size, size) != kAXErrorSuccess) {
            return std::nullopt;
        }
        return Rect(std::get<Point>(position), std::get<Size>(size));
    }

    std::unique_ptr<X11AccessibilityService> service_;
};

TEST_F(X11AccessibilityServiceTest, WindowsOfAProcessAnswerNumberFrameAndFullScreen) {
    auto xterm = startXterm("ax reads");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    EXPECT_TRUE(service_->isProcessTrusted(false));

    const auto element = windowElement(xterm.pid, xterm.window);
    ASSERT_TRUE(element);
    EXPECT_TRUE(element->isSameElement(*X11AXElement::window(xterm.pid, xterm.window)));
    // Position and size equal the window server's bounds exactly: that is how callers match.
    const auto frame = axFrame(element);
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, reader_->bounds(xterm.window));
    EXPECT_EQ(*frame, xwininfoFrame(xterm.window));

    AXValue fullScreen;
    ASSERT_EQ(service_->copyAttributeValue(element, AXAttribute::fullScreen, fullScreen),
              kAXErrorSuccess);
    EXPECT_EQ(std::get<bool>(fullScreen), false);
    ASSERT_EQ(run({"wmctrl", "-i", "-r", hex(xterm.window), "-b", "add,fullscreen"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil(
        [&] {
            AXValue value;
            return service_->copyAttributeValue(element, AXAttribute::fullScreen, value) ==
                       kAXErrorSuccess &&
                   std::get<bool>(value);
        },
        10s));

    AXValue unsupported;
    EXPECT_EQ(service_->copyAttributeValue(element, "AXTitle", unsupported),
              kAXErrorAttributeUnsupported);
}

TEST_F(X11AccessibilityServiceTest, WindowsOnAnotherDesktopAreNotListed) {
    auto xterm = startXterm("elsewhere");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_TRUE(windowElement(xterm.pid, xterm.window));
    ASSERT_EQ(run({"wmctrl", "-i", "-r", hex(xterm.window), "-t", "2"}).exitCode, 0);
    EXPECT_TRUE(session_->waitUntil(
        [&] { return windowElement(xterm.pid, xterm.window) == nullptr; }, 10s));
}

TEST_F(X11AccessibilityServiceTest, RaiseMakesTheWindowActive) {
    auto xterm = startXterm("to raise");
    auto other = startXterm("in front", "30x5+120+120");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    ASSERT_NE(other.window, XCB_WINDOW_NONE);
    ASSERT_EQ(run({"wmctrl", "-i", "-a", hex(other.window)}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil([&] { return reader_->activeWindow() == other.window; }, 10s));

    const auto element = windowElement(xterm.pid, xterm.window);
    ASSERT_TRUE(element);
    EXPECT_EQ(service_->performAction(element, AXAction::raise), kAXErrorSuccess);
    EXPECT_TRUE(session_->waitUntil([&] { return reader_->activeWindow() == xterm.window; }, 10s));
    const auto stacking = reader_->clientWindowsFrontToBack();
    ASSERT_TRUE(stacking);
    EXPECT_EQ(stacking->front(), xterm.window);

    EXPECT_EQ(
        service_->performAction(service_->createApplicationElement(xterm.pid), AXAction::raise),
        kAXErrorActionUnsupported);
}

TEST_F(X11AccessibilityServiceTest, ObserverReportsMoveResizeMinimiseRestoreAndDestroy) {
    auto xterm = startXterm("observed");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    const auto element = windowElement(xterm.pid, xterm.window);
    ASSERT_TRUE(element);

    std::vector<std::string> heard;
    AXError error = kAXErrorFailure;
    auto observer = service_->createObserver(
        xterm.pid,
        [&](const AXUIElementRef& from, const std::string& name) {
            EXPECT_TRUE(from->isSameElement(*element));
            heard.push_back(name);
        },
        error);
    ASSERT_EQ(error, kAXErrorSuccess);
    ASSERT_TRUE(observer);
    for (const char* name :
         {AXNotification::moved, AXNotification::resized, AXNotification::uiElementDestroyed,
          AXNotification::windowMiniaturized, AXNotification::windowDeminiaturized}) {
        ASSERT_EQ(observer->addNotification(element, name), kAXErrorSuccess) << name;
    }
    EXPECT_EQ(observer->addNotification(element, AXNotification::moved),
              kAXErrorNotificationAlreadyRegistered);
    EXPECT_EQ(observer->addNotification(element, "AXTitleChanged"),
              kAXErrorNotificationUnsupported);
    observer->attachToMainRunLoop();
    auto heardName = [&](const char* name) {
        return std::find(heard.begin(), heard.end(), name) != heard.end();
    };

    ASSERT_EQ(run({"xdotool", "windowmove", hex(xterm.window), "400", "250"}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return heardName(AXNotification::moved); }));
    EXPECT_FALSE(heardName(AXNotification::resized));
    EXPECT_EQ(axFrame(element), xwininfoFrame(xterm.window));

    heard.clear();
    ASSERT_EQ(run({"xdotool", "windowsize", hex(xterm.window), "500", "300"}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return heardName(AXNotification::resized); }));
    EXPECT_EQ(axFrame(element), xwininfoFrame(xterm.window));

    heard.clear();
    ASSERT_EQ(run({"xdotool", "windowminimize", hex(xterm.window)}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return heardName(AXNotification::windowMiniaturized); }));
    // A desktop switch is no minimise.
    ASSERT_EQ(run({"wmctrl", "-i", "-a", hex(xterm.window)}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return heardName(AXNotification::windowDeminiaturized); }));
    heard.clear();
    ASSERT_EQ(run({"wmctrl", "-s", "1"}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return reader_->currentDesktop() == 1u; }));
    ASSERT_EQ(run({"wmctrl", "-s", "0"}).exitCode, 0);
    ASSERT_TRUE(pumpUntil([&] { return reader_->currentDesktop() == 0u; }));
    EXPECT_FALSE(heardName(AXNotification::windowMiniaturized));

    heard.clear();
    const xcb_window_t window = xterm.window;
    stopClient(xterm);
    ASSERT_TRUE(pumpUntil([&] { return heardName(AXNotification::uiElementDestroyed); }));
    EXPECT_EQ(std::count(heard.begin(), heard.end(), AXNotification::uiElementDestroyed), 1);
    // Reads of the dead window fail with a code, never with an X error.
    AXValue value;
    EXPECT_EQ(service_->copyAttributeValue(element, AXAttribute::position, value),
              kAXErrorInvalidUIElement);
    EXPECT_EQ(service_->copyAttributeValue(element, AXAttribute::windowNumber, value),
              kAXErrorInvalidUIElement);
    EXPECT_EQ(service_->copyAttributeValue(element, AXAttribute::fullScreen, value),
              kAXErrorInvalidUIElement);
    EXPECT_EQ(service_->performAction(element, AXAction::raise), kAXErrorInvalidUIElement);
    EXPECT_EQ(
        observer->addNotification(X11AXElement::window(xterm.pid, window), AXNotification::resized),
        kAXErrorInvalidUIElement);
    EXPECT_FALSE(connection_->hasFailed());
}

TEST_F(X11AccessibilityServiceTest, DetachedOrDestroyedObserversStaySilent) {
    auto xterm = startXterm("quiet");
    ASSERT_NE(xterm.window, XCB_WINDOW_NONE);
    const auto element = windowElement(xterm.pid, xterm.window);
    ASSERT_TRUE(element);
    int calls = 0;
    AXError error = kAXErrorFailure;
    auto observer = service_->createObserver(
        xterm.pid, [&](const AXUIElementRef&, const std::string&) { ++calls; }, error);
    ASSERT_TRUE(observer);
    ASSERT_EQ(observer->addNotification(element, AXNotification::moved), kAXErrorSuccess);

    // Not attached: the move is not reported.
    ASSERT_EQ(run({"xdotool", "windowmove", hex(xterm.window), "200", "220"}).exitCode, 0);
    ASSERT_TRUE(
        pumpUntil([&] { return reader_->bounds(xterm.window) == xwininfoFrame(xterm.window); }));
    ASSERT_TRUE(pumpUntil([&] { return events_->processPendingEvents() == 0; }));
    EXPECT_EQ(calls, 0);

    // A move queued for the main queue is dropped when the observer goes first.
    observer->attachToMainRunLoop();
    ASSERT_EQ(run({"xdotool", "windowmove", hex(xterm.window), "260", "240"}).exitCode, 0);
    ASSERT_TRUE(session_->waitUntil(
        [&] { return reader_->bounds(xterm.window) == xwininfoFrame(xterm.window); }, 10s));
    events_->processPendingEvents();
    observer.reset();
    runtime_->runUntilIdle();
    EXPECT_EQ(calls, 0);

    // An observer of a process that does not run cannot be made.
    AXError deadError = kAXErrorSuccess;
    EXPECT_FALSE(service_->createObserver(
        0x3fffffff, [](const AXUIElementRef&, const std::string&) {}, deadError));
    EXPECT_EQ(deadError, kAXErrorIllegalArgument);
}

}  // namespace
}  // namespace tovalo::x11::testing
