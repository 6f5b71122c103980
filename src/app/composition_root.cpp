#include "app/composition_root.h"

#include <utility>

#include "pinning/placeholder_overlay_content_factory.h"

namespace tovalo {

namespace {

// The telemetry types refer to their ports by reference; each instance keeps the ports it refers
// to alive, so a component still holding it after the root is gone never reaches a dead port.
template <typename T, typename... Kept>
std::shared_ptr<T> keepingAlive(T* instance, Kept... kept) {
    return std::shared_ptr<T>(instance, [... kept = std::move(kept)](T* doomed) {
        delete doomed;
        (static_cast<void>(kept), ...);
    });
}

}  // namespace

CompositionRoot::CompositionRoot(PlatformPorts ports, AppComponents components)
    : ports_(std::move(ports)), components_(std::move(components)) {
    if (!components_.overlayContentFactory) {
        components_.overlayContentFactory = std::make_shared<PlaceholderOverlayContentFactory>();
    }

    appState_ = AppState::create(*ports_.preferences, *ports_.defaultCenter);
    localization_ = LocalizationManager::create(ports_.preferences, ports_.defaultCenter,
                                                *ports_.runtime, appState_);
    themeManager_ =
        ThemeManager::create({ports_.preferences, ports_.defaultCenter, ports_.distributedCenter,
                              ports_.runtime, ports_.desktopAppearance});

    errorReporter_ =
        keepingAlive(new ErrorReporter(*ports_.errorReportingClient, *ports_.uncaughtExceptionHooks,
                                       ports_.errorReportingDsn),
                     ports_.errorReportingClient, ports_.uncaughtExceptionHooks);
    analytics_ = keepingAlive(new AnalyticsTracker(*ports_.analyticsClient, ports_.analyticsToken),
                              ports_.analyticsClient);
    deviceIDProvider_ =
        keepingAlive(new DeviceIDProvider(*ports_.hardwareIdentity, *ports_.hasher,
                                          *ports_.preferences, *errorReporter_),
                     ports_.hardwareIdentity, ports_.hasher, ports_.preferences, errorReporter_);

    pinnedWindowManager_ = PinnedWindowManager::create({
        .runtime = ports_.runtime,
        .windowFactory = ports_.windowFactory,
        .screens = ports_.screens,
        .workspace = ports_.workspace,
        .application = ports_.application,
        .defaultCenter = ports_.defaultCenter,
        .appState = appState_,
        .streamControllerFactory = components_.streamControllerFactory,
        .overlayContentFactory = components_.overlayContentFactory,
    });

    appDelegate_ = AppDelegate::create({
        .runtime = ports_.runtime,
        .defaultCenter = ports_.defaultCenter,
        .workspaceCenter = ports_.workspaceCenter,
        .distributedCenter = ports_.distributedCenter,
        .preferences = ports_.preferences,
        .operatingSystem = ports_.operatingSystem,
        .bundleInfo = ports_.bundleInfo,
        .appState = appState_,
        .localization = localization_,
        .errorReporter = errorReporter_,
        .analytics = analytics_,
        .deviceIDProvider = deviceIDProvider_,
        .pinnedWindowManager = pinnedWindowManager_,
        .statusItem = components_.statusItem,
        .shortcuts = components_.shortcuts,
        .mainWindow = components_.mainWindow,
        .updates = components_.updates,
        .pinningCommands = components_.pinningCommands,
        .mainMenu = components_.mainMenu,
    });
}

CompositionRoot::~CompositionRoot() = default;

}  // namespace tovalo
