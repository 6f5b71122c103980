// The composition root: one object graph whose parts share the same instances, built without
// starting anything, and safe to take apart while a component still holds a telemetry facade.

#include "app/composition_root.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/app_harness.h"
#include "pinning/pinned_overlay_view.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_video_layer.h"
#include "prefs/notification_name.h"

namespace tovalo {
namespace {

TEST(CompositionRootTest, ThePartsShareTheRootsInstances) {
    AppHarness app;
    app.build();
    const CompositionRoot& root = *app.root;

    // The language the manager applies is the state the root exposes.
    root.localization()->apply(AppLanguage::chinese);
    EXPECT_EQ(root.appState()->preferredLanguage().get(), AppLanguage::chinese);

    // The delegate starts the root's telemetry and identifies with the root's device identifier.
    app.delegate().prepareApplication();
    app.delegate().applicationWillFinishLaunching();
    app.delegate().applicationDidFinishLaunching();
    EXPECT_TRUE(root.analytics()->isConfigured());
    EXPECT_TRUE(root.errorReporter()->isStarted());
    EXPECT_EQ(root.analytics()->currentDistinctID(), root.deviceIDProvider()->deviceID());
}

TEST(CompositionRootTest, APinnedWindowGetsALiveOverlayWhenNoOverlayFactoryIsGiven) {
    AppHarness app;
    app.launch();
    auto editor = app.desktop->launchApp("org.example.Editor", "Editor");
    const Rect frame{100, 100, 800, 600};
    const WindowID id = app.desktop->openWindow(editor, "Notes", frame);
    const auto display = app.desktop->displays().front();
    app.root->pinnedWindowManager()->present(
        SCWindow{id, frame, "Notes",
                 SCRunningApplication{"org.example.Editor", "Editor", editor->processIdentifier()},
                 true},
        SCDisplay{display.displayID, display.frame, 1440, 900});
    app.runtime->advanceBy(seconds(1));

    const auto entry = app.root->pinnedWindowManager()->pinnedWindows().get().at(id);
    const auto view = std::dynamic_pointer_cast<PinnedOverlayView>(entry.panel->content());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(entry.panel->frame(), app.desktop->toScreenRect(frame));
    EXPECT_TRUE(entry.panel->isVisible());
    ASSERT_EQ(app.streamControllers->made.size(), 1u);
    EXPECT_EQ(app.streamControllers->made.front()->started, std::vector<WindowID>{id});
    EXPECT_TRUE(view->isCapturing());
}

TEST(CompositionRootTest, APinnedWindowIsMirroredLiveThroughTheRealCaptureEngine) {
    AppHarness app;
    app.realCapture = true;
    app.launch();
    auto editor = app.desktop->launchApp("org.example.Editor", "Editor");
    const Rect frame{100, 100, 800, 600};
    const WindowID id = app.desktop->openWindow(editor, "Notes", frame);
    const auto display = app.desktop->displays().front();
    auto& manager = *app.root->pinnedWindowManager();
    manager.present(
        SCWindow{id, frame, "Notes",
                 SCRunningApplication{"org.example.Editor", "Editor", editor->processIdentifier()},
                 true},
        SCDisplay{display.displayID, display.frame, 1440, 900});
    app.runtime->advanceBy(seconds(1));
    app.desktop->captureService().deliverFrame(id);
    app.runtime->advanceBy(seconds(1));

    ASSERT_EQ(app.videoLayers->made().size(), 1u);
    const auto& layer = *app.videoLayers->made().front();
    ASSERT_NE(layer.shownFrame(), nullptr);
    // The overlay's own size at the display's scale.
    EXPECT_EQ(layer.shownFrame()->width(), 1600u);
    EXPECT_EQ(layer.callsOffMainThread(), 0);
    EXPECT_EQ(app.desktop->captureService().runningStreamCount(id), 1);
    EXPECT_EQ(manager.cachedSnapshots().count(id), 1u);
    const auto view = std::dynamic_pointer_cast<PinnedOverlayView>(
        manager.pinnedWindows().get().at(id).panel->content());
    ASSERT_NE(view, nullptr);
    EXPECT_DOUBLE_EQ(view->presentedOpacity().get(), 1.0);

    manager.close(id);
    app.runtime->advanceBy(seconds(1));
    EXPECT_EQ(app.desktop->captureService().activeStreamCount(id), 0);
    EXPECT_EQ(app.root->streamRegistry()->registeredController(id), nullptr);
    EXPECT_EQ(manager.cachedSnapshots().count(id), 0u);
}

TEST(CompositionRootTest, ATelemetryFacadeOutlivingTheRootStillReachesItsClient) {
    AppHarness app;
    app.launch();
    const std::shared_ptr<ErrorReporter> reporter = app.root->errorReporter();
    const std::shared_ptr<DeviceIDProvider> deviceIDs = app.root->deviceIDProvider();

    app.root.reset();
    reporter->capture("after the root", ReportLevel::warning, std::nullopt,
                      {{"operation", "Test.afterRoot"}});
    EXPECT_EQ(deviceIDs->deviceID().size(), 22u);

    ASSERT_EQ(app.errorClient->reports().size(), 1u);
    EXPECT_EQ(app.errorClient->reports().front().message, "after the root");
}

}  // namespace
}  // namespace tovalo
