#pragma once

// The simulated desktop: one in-memory desktop on a dispatch runtime's clock (normally a
// ManualDispatchRuntime) with displays, running applications, their windows in a stacking order,
// virtual desktops, permission switches, and the system notifications the real desktop posts. It
// implements every desktop port through the objects it owns (screens, window server, window
// factory, workspace, application, bundle info, capture and accessibility services), so a test
// or the headless demo builds one desktop and hands its ports to the components.
//
// Tests script it in short lines:
//   auto desktop = SimDesktop::make(runtime);          // one 1440x900 display at scale 2
//   auto editor = desktop->launchApp("org.example.Editor", "Editor");
//   WindowID notes = desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
//   desktop->moveWindow(notes, 10, 0);
//   desktop->lockScreen();
//
// Rectangles given to and read from the scripting calls are window-server rectangles (top-left
// origin of the primary display, y down); only the pointer uses screen coordinates (bottom-left
// origin, y up), as the interface does. Scripting calls change the windows of other
// applications; this program's own windows follow their PlatformWindow: on them the desktop only
// raises, closes, sets the sharing state and moves between desktops (other calls return false).
// Every call is thread-safe; system notifications are posted synchronously on the calling thread,
// each time a call asks for one (the real system does not pair or deduplicate them either).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/dispatch_runtime.h"
#include "base/geometry.h"
#include "base/notification_center.h"
#include "base/subscription.h"
#include "capture/capture_types.h"
#include "platform/sim/sim_display.h"
#include "platform/sim/sim_window_state.h"

namespace tovalo::sim {

class SimAccessibilityService;
class SimApplication;
class SimBundleInfo;
class SimCaptureService;
class SimDesktopAppearance;
class SimOperatingSystemInfo;
class SimPlatformWindow;
class SimRunningApplication;
class SimScreens;
class SimSystemEvents;
class SimWindowFactory;
class SimWindowServer;
class SimWorkspace;

// A key press as the simulated keyboard reports it.
struct SimKeyPress {
    std::uint16_t keyCode = 0;
    std::uint32_t modifiers = 0;
    std::string characters;
};

// What happened to a window, as the desktop tells the services that follow windows.
enum class SimWindowChange { moved, resized, minimized, restored, closed, fullScreenChanged };

class SimDesktop : public std::enable_shared_from_this<SimDesktop> {
  public:
    // The three centres the desktop posts system notifications on.
    struct NotificationCenters {
        std::shared_ptr<NotificationCenter> defaultCenter;
        std::shared_ptr<NotificationCenter> workspaceCenter;
        std::shared_ptr<NotificationCenter> distributedCenter;
    };

    struct Options {
        // The primary display, at the origin.
        Size primaryDisplaySize{1440, 900};
        double primaryDisplayScale = 2.0;
        // This program as a running application.
        std::string selfBundleIdentifier = "com.tovalohq.tovalo";
        std::string selfName = "Tovalo";
        // Centres to post on; any left null is created.
        NotificationCenters centers;
    };

    // Height of the menu bar at the top of every display, left out of the visible frame.
    static constexpr double kMenuBarHeight = 24;

    static std::shared_ptr<SimDesktop> make(std::shared_ptr<DispatchRuntime> runtime);
    static std::shared_ptr<SimDesktop> make(std::shared_ptr<DispatchRuntime> runtime,
                                            Options options);
    ~SimDesktop();
    SimDesktop(const SimDesktop&) = delete;
    SimDesktop& operator=(const SimDesktop&) = delete;

    // ---- The ports ----
    const std::shared_ptr<SimScreens>& screens() const { return screens_; }
    const std::shared_ptr<SimWindowServer>& windowServer() const { return windowServer_; }
    const std::shared_ptr<SimWindowFactory>& windowFactory() const { return windowFactory_; }
    const std::shared_ptr<SimWorkspace>& workspace() const { return workspace_; }
    const std::shared_ptr<SimApplication>& application() const { return application_; }
    const std::shared_ptr<SimBundleInfo>& bundleInfo() const { return bundleInfo_; }
    const std::shared_ptr<SimDesktopAppearance>& appearance() const { return appearance_; }
    const std::shared_ptr<SimOperatingSystemInfo>& operatingSystemInfo() const {
        return operatingSystemInfo_;
    }
    SimCaptureService& captureService() const { return *captureService_; }
    const std::shared_ptr<SimCaptureService>& sharedCaptureService() const {
        return captureService_;
    }
    SimAccessibilityService& accessibilityService() const { return *accessibilityService_; }
    const std::shared_ptr<SimAccessibilityService>& sharedAccessibilityService() const {
        return accessibilityService_;
    }

    const NotificationCenters& notificationCenters() const { return centers_; }
    const std::shared_ptr<NotificationCenter>& defaultCenter() const {
        return centers_.defaultCenter;
    }
    const std::shared_ptr<NotificationCenter>& workspaceCenter() const {
        return centers_.workspaceCenter;
    }
    const std::shared_ptr<NotificationCenter>& distributedCenter() const {
        return centers_.distributedCenter;
    }
    const std::shared_ptr<DispatchRuntime>& runtime() const { return runtime_; }

    // ---- Displays ----
    // Adds a display at `frame` (window-server coordinates); returns its ID.
    DisplayID addDisplay(const Rect& frame, double scale = 1.0);
    // The primary display cannot be removed. Windows stay where they are.
    bool removeDisplay(DisplayID displayID);
    // The primary display first, then in the order added.
    std::vector<SimDisplay> displays() const;
    DisplayID primaryDisplayID() const;
    // The display the rectangle overlaps most (the first of equals); nullopt when it overlaps none.
    std::optional<SimDisplay> displayContaining(const Rect& frame) const;
    // Conversions between window-server rectangles and screen rectangles (bottom-left origin),
    // flipped against the primary display's height. Each is the other's inverse.
    Rect toScreenRect(const Rect& windowServerRect) const;
    Rect toWindowServerRect(const Rect& screenRect) const;

    // ---- Applications ----
    // Starts an application with a fresh process ID.
    std::shared_ptr<SimRunningApplication> launchApp(std::string bundleIdentifier,
                                                     std::string name);
    // Closes its windows, marks it terminated and posts the termination with its process ID on
    // the workspace centre. False for an unknown or already terminated process.
    bool quitApp(ProcessID pid);
    bool quitApp(const std::shared_ptr<SimRunningApplication>& app);
    // This program as a running application.
    const std::shared_ptr<SimRunningApplication>& selfApp() const { return selfApp_; }
    ProcessID selfPID() const;
    // The running (not terminated) applications, in launch order, this program first.
    std::vector<std::shared_ptr<SimRunningApplication>> runningApps() const;
    std::shared_ptr<SimRunningApplication> app(ProcessID pid) const;
    // Makes the application frontmost and brings its windows in front of other applications'
    // windows, keeping their order. Activating this program posts "applicationDidBecomeActive"
    // on the default centre in a later turn of the main queue, when it was not active.
    bool activateApp(ProcessID pid);
    ProcessID frontmostPID() const;
    // An application installed but not running, for the workspace's path lookups.
    void installApp(std::string name, std::string bundleIdentifier, std::string path);
    // Where an installed (or launched) application lives, by name or by bundle identifier.
    std::optional<std::string> applicationPath(const std::string& name) const;
    std::optional<std::string> applicationPathForBundleIdentifier(
        const std::string& bundleIdentifier) const;

    // ---- Windows (window-server coordinates) ----
    // Opens a window in front of the other windows of its layer, on the current desktop.
    WindowID openWindow(ProcessID pid, std::optional<std::string> title, const Rect& frame);
    WindowID openWindow(const std::shared_ptr<SimRunningApplication>& app,
                        std::optional<std::string> title, const Rect& frame);
    bool moveWindow(WindowID windowID, double dx, double dy);
    bool resizeWindow(WindowID windowID, Size size);
    bool setFrame(WindowID windowID, const Rect& frame);
    bool setTitle(WindowID windowID, std::optional<std::string> title);
    bool minimize(WindowID windowID);
    // Brings a minimised window back, in front.
    bool restore(WindowID windowID);
    // Full screen fills the window's display; leaving it brings the previous frame back.
    bool setFullScreen(WindowID windowID, bool fullScreen);
    // Closes for good: gone from every list; its capture streams end with an error and its
    // accessibility element reports destruction. A window of this program closes through its
    // PlatformWindow, so its will-close observers run.
    bool closeWindow(WindowID windowID);
    // Brings the window in front of the others of its layer.
    bool raise(WindowID windowID);
    bool setLayer(WindowID windowID, int layer);
    bool setAlpha(WindowID windowID, double alpha);
    bool setSharingState(WindowID windowID, int sharingState);
    // Hides or shows the window without minimising it.
    bool setOrderedIn(WindowID windowID, bool orderedIn);

    // ---- Virtual desktops ----
    // Moves the window to desktop `desktop` (0: every desktop).
    bool moveToDesktop(WindowID windowID, int desktop);
    // Switches the current desktop and posts "activeSpaceDidChange" on the workspace centre.
    void switchDesktop(int desktop);
    int currentDesktop() const;

    // ---- Reading the windows ----
    std::optional<SimWindowState> window(WindowID windowID) const;
    // Every window that is not closed, front to back: higher layers first, then the most recently
    // raised.
    std::vector<SimWindowState> windowsFrontToBack() const;
    // The open windows of one application, front to back.
    std::vector<SimWindowState> windowsOf(ProcessID pid) const;

    // ---- System events ----
    void lockScreen();
    void unlockScreen();
    void sleep();
    void wake();
    void switchUserAway();
    void switchUserBack();
    void showOverview();
    void dismissOverview();
    // Switches the appearance; the change is posted on the distributed centre when it differs.
    void setAppearanceDark(bool dark);
    // Posts the locale change on the default centre.
    void changeLocale();
    bool isScreenLocked() const;
    bool isAsleep() const;
    bool isSessionActive() const;
    bool isOverviewShown() const;

    // ---- Permissions ----
    // Screen recording off also hides window titles from the window server's records, as the
    // real window server does.
    void setScreenRecordingAllowed(bool allowed);
    bool isScreenRecordingAllowed() const;
    void setAccessibilityTrusted(bool trusted);
    bool isAccessibilityTrusted() const;

    // ---- Pointer and keyboard ----
    // Screen coordinates (bottom-left origin).
    void movePointer(Point location);
    Point pointerLocation() const;
    // The mouse buttons held down, as a bit mask (bit 0 the primary button); 0 releases all.
    void setPressedMouseButtons(std::uint32_t buttons);
    std::uint32_t pressedMouseButtons() const;
    void pressKey(SimKeyPress key);
    [[nodiscard]] Subscription observePointer(std::function<void(Point)> observer);
    [[nodiscard]] Subscription observeKeys(std::function<void(const SimKeyPress&)> observer);

    // ---- For the ports: this program's own windows ----
    struct OwnWindowUpdate {
        Rect screenFrame;
        int layer = 0;
        double alpha = 1.0;
        std::string title;
        bool orderedIn = false;
    };
    // Registers a window of this program and returns its window number.
    WindowID registerOwnWindow(const std::shared_ptr<SimPlatformWindow>& window,
                               const OwnWindowUpdate& state);
    void updateOwnWindow(WindowID windowID, const OwnWindowUpdate& state);
    // Called by the window once its will-close observers ran.
    void ownWindowClosed(WindowID windowID);
    void setKeyWindow(WindowID windowID);
    void resignKeyWindow(WindowID windowID);
    WindowID keyWindow() const;
    // This program's open windows, front to back: ordered-in ones first, then hidden ones.
    std::vector<std::shared_ptr<SimPlatformWindow>> ownWindowsFrontToBack() const;
    // Marks this program frontmost and brings its windows forward (the Application port).
    void activateSelf();
    bool isSelfActive() const;

  private:
    struct WindowEntry {
        SimWindowState state;
        std::uint64_t stackOrder = 0;
        std::optional<Rect> frameBeforeFullScreen;
        std::weak_ptr<SimPlatformWindow> platformWindow;
    };
    struct AppEntry {
        std::shared_ptr<SimRunningApplication> app;
        bool isRunning = true;
    };
    struct InstalledApp {
        std::string name;
        std::string bundleIdentifier;
        std::string path;
    };
    struct WindowEvent {
        WindowID windowID;
        SimWindowChange change;
    };

    SimDesktop(std::shared_ptr<DispatchRuntime> runtime, Options options);
    void buildPorts();

    // With the lock held.
    WindowEntry* findLocked(WindowID windowID);
    const WindowEntry* findLocked(WindowID windowID) const;
    SimWindowState snapshotLocked(const WindowEntry& entry) const;
    std::vector<const WindowEntry*> orderedLocked() const;
    double primaryHeightLocked() const;
    Rect toScreenRectLocked(const Rect& rect) const;
    Rect toWindowServerRectLocked(const Rect& rect) const;
    std::optional<SimDisplay> displayContainingLocked(const Rect& frame) const;
    void bringAppForwardLocked(ProcessID pid);
    // Applies a frame change and returns the changes it made.
    std::vector<WindowEvent> setFrameLocked(WindowEntry& entry, const Rect& frame);

    // Without the lock: tells the services that follow windows.
    void publish(const std::vector<WindowEvent>& events);
    void post(const std::shared_ptr<NotificationCenter>& center, const char* name);
    enum class OwnWindows { refused, allowed };
    // Runs `change` on the entry under the lock; false when the window is unknown or closed, or
    // is this program's own and those are refused.
    bool changeWindow(WindowID windowID,
                      const std::function<std::vector<WindowEvent>(WindowEntry&)>& change,
                      OwnWindows ownWindows = OwnWindows::refused);

    const std::shared_ptr<DispatchRuntime> runtime_;
    const Options options_;
    NotificationCenters centers_;

    std::shared_ptr<SimScreens> screens_;
    std::shared_ptr<SimWindowServer> windowServer_;
    std::shared_ptr<SimWindowFactory> windowFactory_;
    std::shared_ptr<SimWorkspace> workspace_;
    std::shared_ptr<SimApplication> application_;
    std::shared_ptr<SimBundleInfo> bundleInfo_;
    std::shared_ptr<SimDesktopAppearance> appearance_;
    std::shared_ptr<SimOperatingSystemInfo> operatingSystemInfo_;
    std::shared_ptr<SimSystemEvents> systemEvents_;
    std::shared_ptr<SimCaptureService> captureService_;
    std::shared_ptr<SimAccessibilityService> accessibilityService_;
    std::shared_ptr<SimRunningApplication> selfApp_;

    mutable std::mutex mutex_;
    std::vector<SimDisplay> displays_;
    DisplayID nextDisplayID_ = 1;
    std::map<WindowID, WindowEntry> windows_;
    WindowID nextWindowID_ = 101;
    std::uint64_t nextStackOrder_ = 1;
    std::vector<AppEntry> apps_;
    ProcessID nextPID_ = 1000;
    ProcessID frontmostPID_ = 0;
    std::vector<InstalledApp> installedApps_;
    WindowID keyWindow_ = 0;
    int currentDesktop_ = 1;
    bool screenLocked_ = false;
    bool asleep_ = false;
    bool sessionActive_ = true;
    bool overviewShown_ = false;
    bool screenRecordingAllowed_ = true;
    bool accessibilityTrusted_ = true;
    Point pointer_;
    std::uint32_t pressedMouseButtons_ = 0;
    std::map<std::uint64_t, std::function<void(Point)>> pointerObservers_;
    std::map<std::uint64_t, std::function<void(const SimKeyPress&)>> keyObservers_;
    std::uint64_t nextObserverID_ = 1;
};

}  // namespace tovalo::sim
