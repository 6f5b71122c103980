#include "app/composition_root.h"

#include <utility>

#include "capture/app_activator.h"
#include "capture/default_window_stream_controller_factory.h"
#include "pinning/pinned_overlay_view_factory.h"

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

    windowServerInfo_ = WindowServerInfo::create(ports_.windowServer, ports_.runtime);
    std::weak_ptr<WindowServerInfo> weakInfo = windowServerInfo_;
    auto windowInfo = [weakInfo](WindowID windowID) -> std::optional<ValueMap> {
        auto info = weakInfo.lock();
        return info ? info->windowInfo(windowID) : std::nullopt;
    };
    captureContextProvider_ = WindowCaptureContextProvider::create({
        .runtime = ports_.runtime,
        .captureService = ports_.captureService,
        .windowInfo = windowInfo,
        .workspace = ports_.workspace,
        .bundleInfo = ports_.bundleInfo,
        .preferences = ports_.preferences,
        .defaultCenter = ports_.defaultCenter,
        .errorReporter = errorReporter_,
    });
    streamRegistry_ = std::make_shared<WindowStreamRegistry>(*ports_.runtime);
    if (!components_.streamControllerFactory) {
        std::weak_ptr<WindowCaptureContextProvider> weakProvider = captureContextProvider_;
        StreamStopDiagnosticsSources diagnostics{
            .windowBounds = [weakInfo](WindowID windowID) -> std::optional<Rect> {
                auto info = weakInfo.lock();
                return info ? info->windowBounds(windowID) : std::nullopt;
            },
            .windowInfo = windowInfo,
            .cachedContent = [weakProvider]() -> std::optional<FilteredShareableContent> {
                auto provider = weakProvider.lock();
                return provider ? provider->currentContent() : std::nullopt;
            },
        };
        components_.streamControllerFactory =
            std::make_shared<DefaultWindowStreamControllerFactory>(
                WindowStreamController::Dependencies{
                    .runtime = ports_.runtime,
                    .captureService = ports_.captureService,
                    .errorReporter = errorReporter_,
                    .diagnostics = std::move(diagnostics),
                    .registry = streamRegistry_,
                    .contextProvider = captureContextProvider_,
                    .workspace = ports_.workspace,
                    .pinnedWindows = {},
                    .videoLayerFactory = ports_.videoLayerFactory,
                });
    }

    if (!components_.overlayContentFactory) {
        components_.overlayContentFactory =
            std::make_shared<PinnedOverlayViewFactory>(PinnedOverlayView::Dependencies{
                .runtime = ports_.runtime,
                .preferences = ports_.preferences,
                .defaultCenter = ports_.defaultCenter,
                .workspaceCenter = ports_.workspaceCenter,
                .screens = ports_.screens,
                .application = ports_.application,
                .workspace = ports_.workspace,
                .accessibility = ports_.accessibility,
                .windowServerInfo = windowServerInfo_,
                .appActivator = std::make_shared<AppActivator>(AppActivator::Dependencies{
                    .accessibility = ports_.accessibility,
                    .windowServerInfo = windowServerInfo_,
                    .errorReporter = errorReporter_,
                }),
                .contextProvider = captureContextProvider_,
            });
    }

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
