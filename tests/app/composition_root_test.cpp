// The composition root: one object graph whose parts share the same instances, built without
// starting anything, and safe to take apart while a component still holds a telemetry facade.

#include "app/composition_root.h"

#include <gtest/gtest.h>

#include <memory>

#include "app/app_harness.h"
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

TEST(CompositionRootTest, OverlaysGetPlaceholderContentUntilARealViewIsGiven) {
    AppHarness app;
    app.build();
    EXPECT_NE(app.root->components().overlayContentFactory, nullptr);
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
