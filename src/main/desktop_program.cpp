#include "main/desktop_program.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "app/composition_root.h"
#include "app/control_commands.h"
#include "base/debug_log.h"
#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "platform/linux/curl_http_client.h"
#include "platform/linux/linux_analytics_client.h"
#include "platform/linux/linux_bundle_info.h"
#include "platform/linux/linux_error_reporting_client.h"
#include "platform/linux/linux_operating_system_info.h"
#include "platform/linux/machine_id_identity.h"
#include "platform/linux/openssl_hasher.h"
#include "platform/linux/telemetry_config.h"
#include "platform/linux/terminate_handler_hooks.h"
#include "platform/posix/file_preferences_store.h"
#include "platform/posix/xdg_paths.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_control_service.h"
#include "platform/qt/qt_desktop_appearance.h"
#include "platform/qt/qt_main_thread_executor.h"
#include "platform/qt/qt_symbol_lookup.h"
#include "platform/qt/qt_system_events.h"
#include "platform/qt/qt_video_layer.h"
#include "platform/qt/qt_window_factory.h"
#include "platform/qt/qt_x11_event_pump.h"
#include "platform/x11/x11_accessibility_service.h"
#include "platform/x11/x11_capture_service.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_desktop_entry_index.h"
#include "platform/x11/x11_event_source.h"
#include "platform/x11/x11_screens.h"
#include "platform/x11/x11_window_server.h"
#include "platform/x11/x11_workspace.h"
#include "platform/x11/x11_workspace_events.h"

#ifndef TOVALO_VERSION
#define TOVALO_VERSION "0.0.0"
#endif

namespace tovalo {
namespace {

constexpr const char* kIdentifier = "com.tovalohq.tovalo";
constexpr const char* kBuildNumber = "1";

void fail(const std::string& message) {
    std::fprintf(stderr, "tovalo: %s\n", message.c_str());
}

// The backing scale of the Qt screen that shows most of `frame` (root coordinates).
double scaleOf(const Rect& frame) {
    double best = 1.0;
    double bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const Rect screenRect{static_cast<double>(g.x()), static_cast<double>(g.y()),
                              static_cast<double>(g.width()), static_cast<double>(g.height())};
        const Rect overlap = intersection(screenRect, frame);
        const double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen->devicePixelRatio();
        }
    }
    return best;
}

}  // namespace

int runDesktopProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("tovalo");
    QApplication::setApplicationVersion(TOVALO_VERSION);
    // The program lives in the tray and in its overlays; closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    QDBusConnection sessionBus = QDBusConnection::sessionBus();
    if (sessionBus.isConnected() && sessionBus.interface() != nullptr &&
        sessionBus.interface()->isServiceRegistered("com.tovalohq.Tovalo")) {
        std::string error;
        if (qt::QtControlService::requestReopen(sessionBus, &error)) {
            return 0;
        }
        fail("another instance is running but did not answer: " + error);
        return 1;
    }

    const XdgPaths paths;
    const auto configDir = paths.tovaloConfigDir();
    if (!configDir) {
        fail("no home directory and no XDG_CONFIG_HOME; cannot keep settings");
        return 1;
    }

    Error error;
    auto connection = x11::Connection::open("", &error);
    if (!connection) {
        fail(error.description + " (is DISPLAY set? try scripts/demo for a private desktop)");
        return 1;
    }

    auto mainThread = std::make_shared<qt::QtMainThreadExecutor>();
    auto runtime = DispatchRuntime::makeThreaded(mainThread);
    auto defaultCenter = std::make_shared<NotificationCenter>("default");
    auto workspaceCenter = std::make_shared<NotificationCenter>("workspace");
    auto distributedCenter = std::make_shared<NotificationCenter>("distributed");

    auto events = x11::X11EventSource::make(connection);
    auto reader = std::make_shared<x11::ClientWindowReader>(connection);
    auto entries = x11::DesktopEntryIndex::loadFromEnvironment();
    auto windowServer = std::make_shared<x11::X11WindowServer>(reader, entries);
    auto screens = std::make_shared<x11::X11Screens>(reader);
    screens->setScaleProvider([](const x11::Monitor& monitor) { return scaleOf(monitor.frame); });
    auto workspace = std::make_shared<x11::X11Workspace>(reader, entries);
    auto workspaceEvents =
        std::make_shared<x11::X11WorkspaceEvents>(events, reader, workspace, workspaceCenter);
    auto accessibility = std::make_shared<x11::X11AccessibilityService>(events, reader, runtime);
    // The overlay composites frames on the server; TOVALO_FRAME_PATH=pixels reads every frame
    // into this process instead (for comparing the two paths).
    const char* framePath = std::getenv("TOVALO_FRAME_PATH");
    const auto delivery = framePath && std::string_view(framePath) == "pixels"
                              ? x11::FrameDelivery::clientPixels
                              : x11::FrameDelivery::serverSurfaces;
    auto capture = x11::X11CaptureService::create("", runtime, &error, delivery);
    if (!capture) {
        fail("cannot capture windows on this X server: " + error.description);
        return 1;
    }

    auto windowFactory = std::make_shared<qt::QtWindowFactory>(runtime);
    auto application =
        std::make_shared<qt::QtApplication>(windowFactory, defaultCenter, connection);
    qt::QtSystemEvents systemEvents({workspaceCenter, distributedCenter});
    qt::QtX11EventPump pump(events, workspaceEvents);

    auto store = std::make_shared<FilePreferencesStore>(*configDir + "/preferences.json",
                                                        defaultCenter.get(), runtime->clock());
    const auto telemetry = TelemetryConfig::load(*configDir, XdgPaths::processEnvironment());
    auto http = std::make_shared<CurlHttpClient>();
    const std::string release = std::string("tovalo@") + TOVALO_VERSION + "+" + kBuildNumber;
    LinuxErrorReportingClient::Config reportingConfig;
    reportingConfig.spoolDirectory =
        LinuxErrorReportingClient::defaultSpoolDirectory(paths).value_or("");
    reportingConfig.endpointOverride = telemetry.errorReportingEndpointOverride;
    reportingConfig.release = release;
    auto errorReporting =
        std::make_shared<LinuxErrorReportingClient>(runtime, *http, reportingConfig);
    LinuxAnalyticsClient::Settings analyticsSettings;
    analyticsSettings.stateDirectory = paths.stateHome().value_or("") + "/tovalo/analytics";
    analyticsSettings.defaultServerUrl = telemetry.analyticsServerUrl;
    auto analytics = std::make_shared<LinuxAnalyticsClient>(runtime, *http, analyticsSettings);
    auto bundleInfo = std::make_shared<LinuxBundleInfo>(kIdentifier, TOVALO_VERSION, kBuildNumber);

    PlatformPorts ports;
    ports.runtime = runtime;
    ports.defaultCenter = defaultCenter;
    ports.workspaceCenter = workspaceCenter;
    ports.distributedCenter = distributedCenter;
    ports.preferences = store;
    ports.windowServer = windowServer;
    ports.screens = screens;
    ports.windowFactory = windowFactory;
    ports.workspace = workspace;
    ports.application = application;
    ports.bundleInfo = bundleInfo;
    ports.operatingSystem = std::make_shared<LinuxOperatingSystemInfo>();
    ports.desktopAppearance = std::make_shared<qt::QtDesktopAppearance>();
    ports.symbolLookup = std::make_shared<qt::QtSymbolLookup>();
    ports.captureService = capture;
    ports.videoLayerFactory = std::make_shared<qt::QtVideoLayerFactory>();
    ports.accessibility = accessibility;
    ports.errorReportingClient = errorReporting;
    ports.analyticsClient = analytics;
    ports.hasher = std::make_shared<OpenSslHasher>();
    ports.hardwareIdentity = std::make_shared<MachineIdIdentity>();
    ports.uncaughtExceptionHooks = std::make_shared<TerminateHandlerHooks>();
    ports.errorReportingDsn = telemetry.errorReportingDsn;
    ports.analyticsToken = telemetry.analyticsToken;

    auto root = std::make_unique<CompositionRoot>(ports, AppComponents{});
    auto delegate = root->appDelegate();

    auto commands = ControlCommands::create({
        .runtime = runtime,
        .pinnedWindowManager = root->pinnedWindowManager(),
        .captureContextProvider = root->captureContextProvider(),
        .windowServerInfo = root->windowServerInfo(),
        .bundleInfo = bundleInfo,
    });
    auto control = std::make_unique<qt::QtControlService>(
        commands, delegate,
        [windowFactory] {
            for (const auto& window : windowFactory->openWindows()) {
                if (window->isVisible()) {
                    return true;
                }
            }
            return false;
        },
        sessionBus);
    switch (control->registerOnBus()) {
        case qt::QtControlService::Registration::registered:
            break;
        case qt::QtControlService::Registration::nameTaken: {
            std::string reason;
            return qt::QtControlService::requestReopen(sessionBus, &reason) ? 0 : 1;
        }
        case qt::QtControlService::Registration::unavailable:
            TOVALO_DEBUG_LOG("App", "no session bus: running without the control interface");
            break;
    }

    // A minimal tray until the status item exists: the main window is not built yet.
    QSystemTrayIcon tray(QIcon::fromTheme("view-pin", QIcon::fromTheme("window-new")));
    QMenu trayMenu;
    QAction* showMain = trayMenu.addAction("Show Main Window");
    showMain->setEnabled(false);
    trayMenu.addSeparator();
    QAction* quit = trayMenu.addAction("Quit");
    QObject::connect(quit, &QAction::triggered, [application] { application->terminate(); });
    tray.setContextMenu(&trayMenu);
    tray.setToolTip("Tovalo");
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray.show();
    } else {
        TOVALO_DEBUG_LOG("App", "no system tray: quit with `tovalo ctl` or by ending the process");
    }

    application->setTerminationHandler([delegate] { delegate->applicationWillTerminate(); });
    delegate->prepareApplication();
    delegate->applicationWillFinishLaunching();
    delegate->applicationDidFinishLaunching();
    const int code = QApplication::exec();

    // Overlays and sessions go while the loop's objects still exist.
    control.reset();
    root.reset();
    return code;
}

}  // namespace tovalo
