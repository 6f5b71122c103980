#include "platform/sim/sim_desktop.h"

#include <algorithm>

#include "platform/sim/sim_accessibility_service.h"
#include "platform/sim/sim_application.h"
#include "platform/sim/sim_bundle_info.h"
#include "platform/sim/sim_capture_service.h"
#include "platform/sim/sim_desktop_appearance.h"
#include "platform/sim/sim_image.h"
#include "platform/sim/sim_operating_system_info.h"
#include "platform/sim/sim_platform_window.h"
#include "platform/sim/sim_running_application.h"
#include "platform/sim/sim_screens.h"
#include "platform/sim/sim_system_events.h"
#include "platform/sim/sim_window_factory.h"
#include "platform/sim/sim_window_server.h"
#include "platform/sim/sim_workspace.h"
#include "platform/system_notifications.h"

namespace tovalo::sim {

namespace {

std::int64_t memoryFor(const Rect& frame) {
    return static_cast<std::int64_t>(std::max(0.0, frame.width()) * std::max(0.0, frame.height()) *
                                     4.0);
}

}  // namespace

std::shared_ptr<SimDesktop> SimDesktop::make(std::shared_ptr<DispatchRuntime> runtime) {
    return make(std::move(runtime), Options{});
}

std::shared_ptr<SimDesktop> SimDesktop::make(std::shared_ptr<DispatchRuntime> runtime,
                                             Options options) {
    auto desktop =
        std::shared_ptr<SimDesktop>(new SimDesktop(std::move(runtime), std::move(options)));
    desktop->buildPorts();
    return desktop;
}

SimDesktop::SimDesktop(std::shared_ptr<DispatchRuntime> runtime, Options options)
    : runtime_(std::move(runtime)), options_(std::move(options)), centers_(options_.centers) {
    if (!centers_.defaultCenter) {
        centers_.defaultCenter = std::make_shared<NotificationCenter>("default");
    }
    if (!centers_.workspaceCenter) {
        centers_.workspaceCenter = std::make_shared<NotificationCenter>("workspace");
    }
    if (!centers_.distributedCenter) {
        centers_.distributedCenter = std::make_shared<NotificationCenter>("distributed");
    }
    displays_.push_back(SimDisplay{nextDisplayID_++, Rect{Point{0, 0}, options_.primaryDisplaySize},
                                   options_.primaryDisplayScale});
}

SimDesktop::~SimDesktop() = default;

void SimDesktop::buildPorts() {
    std::weak_ptr<SimDesktop> weak = weak_from_this();
    screens_ = std::make_shared<SimScreens>(weak);
    windowServer_ = std::make_shared<SimWindowServer>(weak);
    windowFactory_ = std::make_shared<SimWindowFactory>(weak);
    workspace_ = std::make_shared<SimWorkspace>(weak);
    application_ = std::make_shared<SimApplication>(weak);
    bundleInfo_ = std::make_shared<SimBundleInfo>();
    bundleInfo_->setInfoValue(BundleInfoKey::identifier, Value(options_.selfBundleIdentifier));
    appearance_ = std::make_shared<SimDesktopAppearance>(centers_.distributedCenter);
    operatingSystemInfo_ =
        std::make_shared<SimOperatingSystemInfo>(OperatingSystemVersion{14, 0, 0});
    systemEvents_ = std::make_shared<SimSystemEvents>(centers_.defaultCenter);
    captureService_ = std::make_shared<SimCaptureService>(weak, runtime_);
    accessibilityService_ = std::make_shared<SimAccessibilityService>(weak, runtime_);
    selfApp_ = launchApp(options_.selfBundleIdentifier, options_.selfName);
}

// ---- Displays ----

DisplayID SimDesktop::addDisplay(const Rect& frame, double scale) {
    std::lock_guard lock(mutex_);
    DisplayID id = nextDisplayID_++;
    displays_.push_back(SimDisplay{id, frame, scale});
    return id;
}

bool SimDesktop::removeDisplay(DisplayID displayID) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(displays_.begin() + 1, displays_.end(),
                           [&](const SimDisplay& d) { return d.displayID == displayID; });
    if (it == displays_.end()) {
        return false;
    }
    displays_.erase(it);
    return true;
}

std::vector<SimDisplay> SimDesktop::displays() const {
    std::lock_guard lock(mutex_);
    return displays_;
}

DisplayID SimDesktop::primaryDisplayID() const {
    std::lock_guard lock(mutex_);
    return displays_.front().displayID;
}

std::optional<SimDisplay> SimDesktop::displayContaining(const Rect& frame) const {
    std::lock_guard lock(mutex_);
    return displayContainingLocked(frame);
}

std::optional<SimDisplay> SimDesktop::displayContainingLocked(const Rect& frame) const {
    std::optional<SimDisplay> best;
    double bestArea = 0;
    for (const auto& display : displays_) {
        Rect overlap = intersection(display.frame, frame);
        double area = overlap.width() * overlap.height();
        if (area > bestArea) {
            bestArea = area;
            best = display;
        }
    }
    return best;
}

double SimDesktop::primaryHeightLocked() const {
    return displays_.front().frame.height();
}

Rect SimDesktop::toScreenRectLocked(const Rect& rect) const {
    // Flipping y against the primary display's height is its own inverse.
    return Rect{rect.minX(), primaryHeightLocked() - rect.maxY(), rect.width(), rect.height()};
}

Rect SimDesktop::toWindowServerRectLocked(const Rect& rect) const {
    return toScreenRectLocked(rect);
}

Rect SimDesktop::toScreenRect(const Rect& windowServerRect) const {
    std::lock_guard lock(mutex_);
    return toScreenRectLocked(windowServerRect);
}

Rect SimDesktop::toWindowServerRect(const Rect& screenRect) const {
    std::lock_guard lock(mutex_);
    return toWindowServerRectLocked(screenRect);
}

// ---- Applications ----

std::shared_ptr<SimRunningApplication> SimDesktop::launchApp(std::string bundleIdentifier,
                                                             std::string name) {
    std::lock_guard lock(mutex_);
    ProcessID pid = nextPID_++;
    auto icon = SimImage::make("icon of " + bundleIdentifier);
    auto app = std::make_shared<SimRunningApplication>(weak_from_this(), pid, bundleIdentifier,
                                                       name, std::move(icon));
    apps_.push_back(AppEntry{app, true});
    bool installed = std::any_of(installedApps_.begin(), installedApps_.end(), [&](auto& entry) {
        return entry.bundleIdentifier == bundleIdentifier;
    });
    if (!installed) {
        installedApps_.push_back(
            InstalledApp{name, bundleIdentifier, "/Applications/" + name + ".app"});
    }
    return app;
}

bool SimDesktop::quitApp(const std::shared_ptr<SimRunningApplication>& app) {
    return app && quitApp(app->processIdentifier());
}

bool SimDesktop::quitApp(ProcessID pid) {
    std::shared_ptr<SimRunningApplication> quitting;
    std::vector<WindowEvent> events;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(apps_.begin(), apps_.end(), [&](const AppEntry& entry) {
            return entry.isRunning && entry.app->processIdentifier() == pid;
        });
        if (it == apps_.end() || it->app == selfApp_) {
            return false;
        }
        it->isRunning = false;
        quitting = it->app;
        for (auto w = windows_.begin(); w != windows_.end();) {
            if (w->second.state.ownerPID == pid) {
                events.push_back(WindowEvent{w->first, SimWindowChange::closed});
                w = windows_.erase(w);
            } else {
                ++w;
            }
        }
        if (frontmostPID_ == pid) {
            frontmostPID_ = 0;
        }
    }
    quitting->markTerminated();
    publish(events);
    ValueMap userInfo{{SystemNotification::processIdentifierKey, Value(pid)}};
    centers_.workspaceCenter->post(SystemNotification::didTerminateApplication,
                                   RunningApplicationRef(quitting), std::move(userInfo));
    return true;
}

ProcessID SimDesktop::selfPID() const {
    return selfApp_ ? selfApp_->processIdentifier() : 0;
}

std::vector<std::shared_ptr<SimRunningApplication>> SimDesktop::runningApps() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<SimRunningApplication>> result;
    for (const auto& entry : apps_) {
        if (entry.isRunning) {
            result.push_back(entry.app);
        }
    }
    return result;
}

std::shared_ptr<SimRunningApplication> SimDesktop::app(ProcessID pid) const {
    std::lock_guard lock(mutex_);
    for (const auto& entry : apps_) {
        if (entry.app->processIdentifier() == pid) {
            return entry.app;
        }
    }
    return nullptr;
}

bool SimDesktop::activateApp(ProcessID pid) {
    bool becameActive = false;
    {
        std::lock_guard lock(mutex_);
        bool running = std::any_of(apps_.begin(), apps_.end(), [&](const AppEntry& entry) {
            return entry.isRunning && entry.app->processIdentifier() == pid;
        });
        if (!running) {
            return false;
        }
        becameActive = frontmostPID_ != pid;
        frontmostPID_ = pid;
        bringAppForwardLocked(pid);
    }
    if (becameActive && pid == selfPID()) {
        // The system announces the activation once it took effect, not within the call.
        runtime_->mainQueue()->async([center = centers_.defaultCenter] {
            center->post(SystemNotification::applicationDidBecomeActive);
        });
    }
    return true;
}

void SimDesktop::bringAppForwardLocked(ProcessID pid) {
    std::vector<WindowEntry*> appWindows;
    for (auto& [id, entry] : windows_) {
        if (entry.state.ownerPID == pid) {
            appWindows.push_back(&entry);
        }
    }
    std::sort(appWindows.begin(), appWindows.end(),
              [](auto* a, auto* b) { return a->stackOrder < b->stackOrder; });
    for (auto* entry : appWindows) {
        entry->stackOrder = nextStackOrder_++;
    }
}

ProcessID SimDesktop::frontmostPID() const {
    std::lock_guard lock(mutex_);
    return frontmostPID_;
}

void SimDesktop::activateSelf() {
    activateApp(selfPID());
}

bool SimDesktop::isSelfActive() const {
    std::lock_guard lock(mutex_);
    return selfApp_ && frontmostPID_ == selfApp_->processIdentifier();
}

void SimDesktop::installApp(std::string name, std::string bundleIdentifier, std::string path) {
    std::lock_guard lock(mutex_);
    installedApps_.push_back(
        InstalledApp{std::move(name), std::move(bundleIdentifier), std::move(path)});
}

std::optional<std::string> SimDesktop::applicationPath(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (const auto& app : installedApps_) {
        if (app.name == name) {
            return app.path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> SimDesktop::applicationPathForBundleIdentifier(
    const std::string& bundleIdentifier) const {
    std::lock_guard lock(mutex_);
    for (const auto& app : installedApps_) {
        if (app.bundleIdentifier == bundleIdentifier) {
            return app.path;
        }
    }
    return std::nullopt;
}

// ---- Windows ----

SimDesktop::WindowEntry* SimDesktop::findLocked(WindowID windowID) {
    auto it = windows_.find(windowID);
    return it == windows_.end() ? nullptr : &it->second;
}

const SimDesktop::WindowEntry* SimDesktop::findLocked(WindowID windowID) const {
    auto it = windows_.find(windowID);
    return it == windows_.end() ? nullptr : &it->second;
}

SimWindowState SimDesktop::snapshotLocked(const WindowEntry& entry) const {
    SimWindowState state = entry.state;
    state.isOnScreen = state.isOrderedIn && !state.isMinimized &&
                       (state.desktop == 0 || state.desktop == currentDesktop_);
    return state;
}

std::vector<const SimDesktop::WindowEntry*> SimDesktop::orderedLocked() const {
    std::vector<const WindowEntry*> ordered;
    ordered.reserve(windows_.size());
    for (const auto& [id, entry] : windows_) {
        ordered.push_back(&entry);
    }
    std::sort(ordered.begin(), ordered.end(), [](const WindowEntry* a, const WindowEntry* b) {
        if (a->state.layer != b->state.layer) {
            return a->state.layer > b->state.layer;
        }
        return a->stackOrder > b->stackOrder;
    });
    return ordered;
}

WindowID SimDesktop::openWindow(const std::shared_ptr<SimRunningApplication>& app,
                                std::optional<std::string> title, const Rect& frame) {
    return app ? openWindow(app->processIdentifier(), std::move(title), frame) : kNullWindowID;
}

WindowID SimDesktop::openWindow(ProcessID pid, std::optional<std::string> title,
                                const Rect& frame) {
    std::lock_guard lock(mutex_);
    auto app = std::find_if(apps_.begin(), apps_.end(), [&](const AppEntry& entry) {
        return entry.isRunning && entry.app->processIdentifier() == pid;
    });
    if (app == apps_.end()) {
        return kNullWindowID;
    }
    WindowEntry entry;
    entry.state.windowID = nextWindowID_++;
    entry.state.ownerPID = pid;
    entry.state.ownerName = app->app->localizedName();
    entry.state.title = std::move(title);
    entry.state.frame = frame;
    entry.state.memoryUsage = memoryFor(frame);
    entry.state.desktop = currentDesktop_;
    entry.stackOrder = nextStackOrder_++;
    WindowID id = entry.state.windowID;
    windows_.emplace(id, std::move(entry));
    return id;
}

std::vector<SimDesktop::WindowEvent> SimDesktop::setFrameLocked(WindowEntry& entry,
                                                                const Rect& frame) {
    std::vector<WindowEvent> events;
    const Rect old = entry.state.frame;
    entry.state.frame = frame;
    entry.state.memoryUsage = memoryFor(frame);
    if (old.origin != frame.origin) {
        events.push_back(WindowEvent{entry.state.windowID, SimWindowChange::moved});
    }
    if (old.size != frame.size) {
        events.push_back(WindowEvent{entry.state.windowID, SimWindowChange::resized});
    }
    return events;
}

bool SimDesktop::changeWindow(WindowID windowID,
                              const std::function<std::vector<WindowEvent>(WindowEntry&)>& change,
                              OwnWindows ownWindows) {
    std::vector<WindowEvent> events;
    {
        std::lock_guard lock(mutex_);
        WindowEntry* entry = findLocked(windowID);
        if (!entry || (entry->state.isOwnWindow && ownWindows == OwnWindows::refused)) {
            return false;
        }
        events = change(*entry);
    }
    publish(events);
    return true;
}

bool SimDesktop::moveWindow(WindowID windowID, double dx, double dy) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        return setFrameLocked(entry, entry.state.frame.offsetBy(dx, dy));
    });
}

bool SimDesktop::resizeWindow(WindowID windowID, Size size) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        return setFrameLocked(entry, Rect{entry.state.frame.origin, size});
    });
}

bool SimDesktop::setFrame(WindowID windowID, const Rect& frame) {
    return changeWindow(windowID, [&](WindowEntry& entry) { return setFrameLocked(entry, frame); });
}

bool SimDesktop::setTitle(WindowID windowID, std::optional<std::string> title) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        entry.state.title = std::move(title);
        return std::vector<WindowEvent>{};
    });
}

bool SimDesktop::minimize(WindowID windowID) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        std::vector<WindowEvent> events;
        if (!entry.state.isMinimized) {
            entry.state.isMinimized = true;
            events.push_back(WindowEvent{windowID, SimWindowChange::minimized});
        }
        return events;
    });
}

bool SimDesktop::restore(WindowID windowID) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        std::vector<WindowEvent> events;
        if (entry.state.isMinimized) {
            entry.state.isMinimized = false;
            entry.stackOrder = nextStackOrder_++;
            events.push_back(WindowEvent{windowID, SimWindowChange::restored});
        }
        return events;
    });
}

bool SimDesktop::setFullScreen(WindowID windowID, bool fullScreen) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        std::vector<WindowEvent> events;
        if (entry.state.isFullScreen == fullScreen) {
            return events;
        }
        entry.state.isFullScreen = fullScreen;
        Rect target;
        if (fullScreen) {
            entry.frameBeforeFullScreen = entry.state.frame;
            auto display = displayContainingLocked(entry.state.frame);
            target = display ? display->frame : displays_.front().frame;
            entry.stackOrder = nextStackOrder_++;
        } else {
            target = entry.frameBeforeFullScreen.value_or(entry.state.frame);
            entry.frameBeforeFullScreen.reset();
        }
        events = setFrameLocked(entry, target);
        events.push_back(WindowEvent{windowID, SimWindowChange::fullScreenChanged});
        return events;
    });
}

bool SimDesktop::closeWindow(WindowID windowID) {
    std::shared_ptr<SimPlatformWindow> ownWindow;
    {
        std::lock_guard lock(mutex_);
        WindowEntry* entry = findLocked(windowID);
        if (!entry) {
            return false;
        }
        if (entry->state.isOwnWindow) {
            ownWindow = entry->platformWindow.lock();
        }
    }
    if (ownWindow) {
        // Closing through the window runs its will-close observers, as any close does.
        ownWindow->close();
        return true;
    }
    ownWindowClosed(windowID);
    return true;
}

bool SimDesktop::raise(WindowID windowID) {
    return changeWindow(
        windowID,
        [&](WindowEntry& entry) {
            entry.stackOrder = nextStackOrder_++;
            return std::vector<WindowEvent>{};
        },
        OwnWindows::allowed);
}

bool SimDesktop::setLayer(WindowID windowID, int layer) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        entry.state.layer = layer;
        return std::vector<WindowEvent>{};
    });
}

bool SimDesktop::setAlpha(WindowID windowID, double alpha) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        entry.state.alpha = alpha;
        return std::vector<WindowEvent>{};
    });
}

bool SimDesktop::setSharingState(WindowID windowID, int sharingState) {
    return changeWindow(
        windowID,
        [&](WindowEntry& entry) {
            entry.state.sharingState = sharingState;
            return std::vector<WindowEvent>{};
        },
        OwnWindows::allowed);
}

bool SimDesktop::setOrderedIn(WindowID windowID, bool orderedIn) {
    return changeWindow(windowID, [&](WindowEntry& entry) {
        entry.state.isOrderedIn = orderedIn;
        if (orderedIn) {
            entry.stackOrder = nextStackOrder_++;
        }
        return std::vector<WindowEvent>{};
    });
}

bool SimDesktop::moveToDesktop(WindowID windowID, int desktop) {
    return changeWindow(
        windowID,
        [&](WindowEntry& entry) {
            entry.state.desktop = desktop;
            return std::vector<WindowEvent>{};
        },
        OwnWindows::allowed);
}

void SimDesktop::switchDesktop(int desktop) {
    {
        std::lock_guard lock(mutex_);
        currentDesktop_ = desktop;
    }
    post(centers_.workspaceCenter, SystemNotification::activeSpaceDidChange);
}

int SimDesktop::currentDesktop() const {
    std::lock_guard lock(mutex_);
    return currentDesktop_;
}

std::optional<SimWindowState> SimDesktop::window(WindowID windowID) const {
    std::lock_guard lock(mutex_);
    const WindowEntry* entry = findLocked(windowID);
    if (!entry) {
        return std::nullopt;
    }
    return snapshotLocked(*entry);
}

std::vector<SimWindowState> SimDesktop::windowsFrontToBack() const {
    std::lock_guard lock(mutex_);
    std::vector<SimWindowState> result;
    for (const WindowEntry* entry : orderedLocked()) {
        result.push_back(snapshotLocked(*entry));
    }
    return result;
}

std::vector<SimWindowState> SimDesktop::windowsOf(ProcessID pid) const {
    std::vector<SimWindowState> result;
    for (auto& window : windowsFrontToBack()) {
        if (window.ownerPID == pid) {
            result.push_back(std::move(window));
        }
    }
    return result;
}

// ---- System events ----

void SimDesktop::post(const std::shared_ptr<NotificationCenter>& center, const char* name) {
    center->post(name);
}

void SimDesktop::lockScreen() {
    {
        std::lock_guard lock(mutex_);
        screenLocked_ = true;
    }
    post(centers_.distributedCenter, SystemNotification::screenIsLocked);
}

void SimDesktop::unlockScreen() {
    {
        std::lock_guard lock(mutex_);
        screenLocked_ = false;
    }
    post(centers_.distributedCenter, SystemNotification::screenIsUnlocked);
}

void SimDesktop::sleep() {
    {
        std::lock_guard lock(mutex_);
        asleep_ = true;
    }
    post(centers_.workspaceCenter, SystemNotification::willSleep);
}

void SimDesktop::wake() {
    {
        std::lock_guard lock(mutex_);
        asleep_ = false;
    }
    post(centers_.workspaceCenter, SystemNotification::didWake);
}

void SimDesktop::switchUserAway() {
    {
        std::lock_guard lock(mutex_);
        sessionActive_ = false;
    }
    post(centers_.workspaceCenter, SystemNotification::sessionDidResignActive);
}

void SimDesktop::switchUserBack() {
    {
        std::lock_guard lock(mutex_);
        sessionActive_ = true;
    }
    post(centers_.workspaceCenter, SystemNotification::sessionDidBecomeActive);
}

void SimDesktop::showOverview() {
    {
        std::lock_guard lock(mutex_);
        overviewShown_ = true;
    }
    post(centers_.distributedCenter, SystemNotification::windowOverviewShown);
}

void SimDesktop::dismissOverview() {
    {
        std::lock_guard lock(mutex_);
        overviewShown_ = false;
    }
    post(centers_.distributedCenter, SystemNotification::windowOverviewDismissed);
}

void SimDesktop::setAppearanceDark(bool dark) {
    appearance_->setAppearance(dark ? DesktopAppearance::Match::dark
                                    : DesktopAppearance::Match::light);
}

void SimDesktop::changeLocale() {
    systemEvents_->changeCurrentLocale();
}

bool SimDesktop::isScreenLocked() const {
    std::lock_guard lock(mutex_);
    return screenLocked_;
}

bool SimDesktop::isAsleep() const {
    std::lock_guard lock(mutex_);
    return asleep_;
}

bool SimDesktop::isSessionActive() const {
    std::lock_guard lock(mutex_);
    return sessionActive_;
}

bool SimDesktop::isOverviewShown() const {
    std::lock_guard lock(mutex_);
    return overviewShown_;
}

// ---- Permissions ----

void SimDesktop::setScreenRecordingAllowed(bool allowed) {
    std::lock_guard lock(mutex_);
    screenRecordingAllowed_ = allowed;
}

bool SimDesktop::isScreenRecordingAllowed() const {
    std::lock_guard lock(mutex_);
    return screenRecordingAllowed_;
}

void SimDesktop::setAccessibilityTrusted(bool trusted) {
    std::lock_guard lock(mutex_);
    accessibilityTrusted_ = trusted;
}

bool SimDesktop::isAccessibilityTrusted() const {
    std::lock_guard lock(mutex_);
    return accessibilityTrusted_;
}

// ---- Pointer and keyboard ----

void SimDesktop::movePointer(Point location) {
    std::vector<std::function<void(Point)>> observers;
    {
        std::lock_guard lock(mutex_);
        pointer_ = location;
        for (const auto& [id, observer] : pointerObservers_) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        observer(location);
    }
}

Point SimDesktop::pointerLocation() const {
    std::lock_guard lock(mutex_);
    return pointer_;
}

void SimDesktop::setPressedMouseButtons(std::uint32_t buttons) {
    std::lock_guard lock(mutex_);
    pressedMouseButtons_ = buttons;
}

std::uint32_t SimDesktop::pressedMouseButtons() const {
    std::lock_guard lock(mutex_);
    return pressedMouseButtons_;
}

void SimDesktop::pressKey(SimKeyPress key) {
    std::vector<std::function<void(const SimKeyPress&)>> observers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, observer] : keyObservers_) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        observer(key);
    }
}

Subscription SimDesktop::observePointer(std::function<void(Point)> observer) {
    std::lock_guard lock(mutex_);
    auto id = nextObserverID_++;
    pointerObservers_.emplace(id, std::move(observer));
    return Subscription([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            std::lock_guard inner(self->mutex_);
            self->pointerObservers_.erase(id);
        }
    });
}

Subscription SimDesktop::observeKeys(std::function<void(const SimKeyPress&)> observer) {
    std::lock_guard lock(mutex_);
    auto id = nextObserverID_++;
    keyObservers_.emplace(id, std::move(observer));
    return Subscription([weak = weak_from_this(), id] {
        if (auto self = weak.lock()) {
            std::lock_guard inner(self->mutex_);
            self->keyObservers_.erase(id);
        }
    });
}

// ---- This program's own windows ----

WindowID SimDesktop::registerOwnWindow(const std::shared_ptr<SimPlatformWindow>& window,
                                       const OwnWindowUpdate& state) {
    std::lock_guard lock(mutex_);
    WindowEntry entry;
    entry.state.windowID = nextWindowID_++;
    entry.state.ownerPID = selfApp_ ? selfApp_->processIdentifier() : 0;
    entry.state.ownerName = options_.selfName;
    entry.state.title = state.title;
    entry.state.frame = toWindowServerRectLocked(state.screenFrame);
    entry.state.memoryUsage = memoryFor(entry.state.frame);
    entry.state.layer = state.layer;
    entry.state.alpha = state.alpha;
    entry.state.isOrderedIn = state.orderedIn;
    // The program's panels join every desktop.
    entry.state.desktop = 0;
    entry.state.isOwnWindow = true;
    entry.stackOrder = nextStackOrder_++;
    entry.platformWindow = window;
    WindowID id = entry.state.windowID;
    windows_.emplace(id, std::move(entry));
    return id;
}

void SimDesktop::updateOwnWindow(WindowID windowID, const OwnWindowUpdate& state) {
    changeWindow(
        windowID,
        [&](WindowEntry& entry) {
            entry.state.title = state.title;
            entry.state.layer = state.layer;
            entry.state.alpha = state.alpha;
            entry.state.isOrderedIn = state.orderedIn;
            return setFrameLocked(entry, toWindowServerRectLocked(state.screenFrame));
        },
        OwnWindows::allowed);
}

void SimDesktop::ownWindowClosed(WindowID windowID) {
    {
        std::lock_guard lock(mutex_);
        if (windows_.erase(windowID) == 0) {
            return;
        }
        if (keyWindow_ == windowID) {
            keyWindow_ = kNullWindowID;
        }
    }
    publish({WindowEvent{windowID, SimWindowChange::closed}});
}

void SimDesktop::setKeyWindow(WindowID windowID) {
    std::lock_guard lock(mutex_);
    if (findLocked(windowID)) {
        keyWindow_ = windowID;
    }
}

void SimDesktop::resignKeyWindow(WindowID windowID) {
    std::lock_guard lock(mutex_);
    if (keyWindow_ == windowID) {
        keyWindow_ = kNullWindowID;
    }
}

WindowID SimDesktop::keyWindow() const {
    std::lock_guard lock(mutex_);
    return keyWindow_;
}

std::vector<std::shared_ptr<SimPlatformWindow>> SimDesktop::ownWindowsFrontToBack() const {
    std::vector<std::shared_ptr<SimPlatformWindow>> shown;
    std::vector<std::pair<WindowID, std::shared_ptr<SimPlatformWindow>>> hidden;
    {
        std::lock_guard lock(mutex_);
        for (const WindowEntry* entry : orderedLocked()) {
            if (!entry->state.isOwnWindow) {
                continue;
            }
            auto window = entry->platformWindow.lock();
            if (!window) {
                continue;
            }
            if (entry->state.isOrderedIn) {
                shown.push_back(std::move(window));
            } else {
                hidden.emplace_back(entry->state.windowID, std::move(window));
            }
        }
    }
    std::sort(hidden.begin(), hidden.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [id, window] : hidden) {
        shown.push_back(std::move(window));
    }
    return shown;
}

void SimDesktop::publish(const std::vector<WindowEvent>& events) {
    for (const auto& event : events) {
        captureService_->handleWindowChange(event.windowID, event.change);
        accessibilityService_->handleWindowChange(event.windowID, event.change);
    }
}

}  // namespace tovalo::sim
