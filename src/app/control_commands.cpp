#include "app/control_commands.h"

#include <algorithm>
#include <string>
#include <utility>

#include "capture/window_list_utilities.h"

namespace tovalo {
namespace {

const char* const kUnknownVersion = "?";

ControlWindowRow rowFor(const SCWindow& window, bool isPinned) {
    return ControlWindowRow{
        window.windowID, WindowListUtilities::presentedAppName(window),
        WindowListUtilities::presentedTitle(window).value_or(kUntitledWindowTitle), isPinned};
}

ControlError contentUnavailable() {
    return ControlError{ControlErrorCode::contentUnavailable,
                        "the windows cannot be read (screen capture is unavailable or no "
                        "display is connected)"};
}

}  // namespace

std::shared_ptr<ControlCommands> ControlCommands::create(Dependencies dependencies) {
    return std::shared_ptr<ControlCommands>(new ControlCommands(std::move(dependencies)));
}

ControlCommands::ControlCommands(Dependencies dependencies) : deps_(std::move(dependencies)) {}

void ControlCommands::list(ListCompletion completion) {
    withFreshContent(
        [completion = std::move(completion)](
            ControlCommands& self, const std::optional<FilteredShareableContent>& content) {
            completion(self.listFrom(content));
        });
}

void ControlCommands::pin(WindowID windowID, PinCompletion completion) {
    withFreshContent(
        [windowID, completion = std::move(completion)](
            ControlCommands& self, const std::optional<FilteredShareableContent>& content) {
            completion(self.pinFrom(windowID, content));
        });
}

void ControlCommands::unpin(WindowID windowID, UnpinCompletion completion) {
    onMainQueue([windowID, completion = std::move(completion)](ControlCommands& self) {
        auto& manager = *self.deps_.pinnedWindowManager;
        if (!manager.isPinned(windowID)) {
            completion(ControlResult<std::monostate>::failure(
                ControlError{ControlErrorCode::notPinned,
                             "window " + std::to_string(windowID) + " is not pinned"}));
            return;
        }
        // On the main thread the manager unpins at once.
        manager.close(windowID);
        completion(ControlResult<std::monostate>::success({}));
    });
}

void ControlCommands::unpinAll(UnpinAllCompletion completion) {
    onMainQueue([completion = std::move(completion)](ControlCommands& self) {
        auto& manager = *self.deps_.pinnedWindowManager;
        std::vector<WindowID> unpinned;
        for (const auto& [windowID, entry] : manager.pinnedWindows().get()) {
            unpinned.push_back(windowID);
        }
        manager.closeAll();
        completion(std::move(unpinned));
    });
}

void ControlCommands::status(StatusCompletion completion) {
    onMainQueue([completion = std::move(completion)](ControlCommands& self) {
        ControlStatus status{kUnknownVersion, {}};
        if (auto value = self.deps_.bundleInfo->infoValue(BundleInfoKey::shortVersion)) {
            if (auto version = value->asString()) {
                status.version = std::move(*version);
            }
        }
        for (const auto& [windowID, entry] :
             self.deps_.pinnedWindowManager->pinnedWindows().get()) {
            status.pinnedWindowIDs.push_back(windowID);
        }
        completion(std::move(status));
    });
}

ControlResult<std::vector<ControlWindowRow>> ControlCommands::listFrom(
    const std::optional<FilteredShareableContent>& content) const {
    using Result = ControlResult<std::vector<ControlWindowRow>>;
    if (!content) {
        return Result::failure(contentUnavailable());
    }
    const auto pinned = deps_.pinnedWindowManager->pinnedWindows().get();
    std::vector<SCWindow> windows = content->windows;
    for (const auto& [windowID, entry] : pinned) {
        const bool listed = std::ranges::any_of(
            windows, [id = windowID](const SCWindow& w) { return w.windowID == id; });
        if (!listed) {
            windows.push_back(entry.window);
        }
    }
    std::ranges::sort(windows, [](const SCWindow& a, const SCWindow& b) {
        if (WindowListUtilities::windowOrderLess(a, b)) {
            return true;
        }
        if (WindowListUtilities::windowOrderLess(b, a)) {
            return false;
        }
        return a.windowID < b.windowID;
    });
    std::vector<ControlWindowRow> rows;
    rows.reserve(windows.size());
    for (const auto& window : windows) {
        rows.push_back(rowFor(window, pinned.contains(window.windowID)));
    }
    return Result::success(std::move(rows));
}

ControlResult<ControlCommands::PinOutcome> ControlCommands::pinFrom(
    WindowID windowID, const std::optional<FilteredShareableContent>& content) {
    using Result = ControlResult<PinOutcome>;
    auto& manager = *deps_.pinnedWindowManager;
    // Checked first: a pinned source may have left the capturable windows (minimised).
    if (manager.isPinned(windowID)) {
        return Result::success(PinOutcome::alreadyPinned);
    }
    if (!content || content->displays.empty()) {
        return Result::failure(contentUnavailable());
    }
    const auto window = std::ranges::find_if(
        content->windows, [windowID](const SCWindow& w) { return w.windowID == windowID; });
    if (window == content->windows.end()) {
        const std::string id = std::to_string(windowID);
        if (deps_.windowServerInfo->windowBounds(windowID)) {
            return Result::failure(ControlError{
                ControlErrorCode::notCapturable,
                "window " + id +
                    " cannot be captured (it is hidden, minimised, excluded, this program's "
                    "own, or not a normal application window)"});
        }
        return Result::failure(
            ControlError{ControlErrorCode::unknownWindow, "no window with ID " + id});
    }
    const auto displayID = WindowListUtilities::bestDisplayID(*window, content->displays);
    auto display = std::ranges::find_if(content->displays, [&](const SCDisplay& d) {
        return displayID && d.displayID == *displayID;
    });
    // A window on no display still gets an overlay, on the first display.
    if (display == content->displays.end()) {
        display = content->displays.begin();
    }
    manager.present(*window, *display);
    return Result::success(PinOutcome::pinned);
}

void ControlCommands::withFreshContent(
    std::function<void(ControlCommands&, const std::optional<FilteredShareableContent>&)> handle) {
    std::weak_ptr<ControlCommands> weak = weak_from_this();
    auto answered = std::make_shared<bool>(false);
    deps_.captureContextProvider->refreshContent(
        [weak, answered, handle = std::move(handle)](
            const std::optional<FilteredShareableContent>& content, bool /*changed*/) {
            // Runs on the main queue, so the flag needs no lock.
            if (*answered) {
                return;
            }
            *answered = true;
            if (auto self = weak.lock()) {
                handle(*self, content);
            }
        });
}

void ControlCommands::onMainQueue(std::function<void(ControlCommands&)> work) {
    std::weak_ptr<ControlCommands> weak = weak_from_this();
    deps_.runtime->mainQueue()->async([weak, work = std::move(work)] {
        if (auto self = weak.lock()) {
            work(*self);
        }
    });
}

}  // namespace tovalo
