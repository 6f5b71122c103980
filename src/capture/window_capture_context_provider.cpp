#include "capture/window_capture_context_provider.h"

#include <utility>

#include "base/debug_log.h"
#include "base/text_trimming.h"
#include "capture/built_in_excluded_bundle_ids.h"
#include "prefs/notification_name.h"
#include "prefs/preference_key.h"

namespace tovalo {
namespace {

constexpr const char* kLogTag = "WindowCaptureContextProvider";
constexpr const char* kRefreshOperation = "WindowCaptureContextProvider.refreshContent";
// Menu-bar status items are windows whose name carries this marker.
constexpr std::string_view kStatusItemMarker = "Item-0";
// Windows this small (either side, in points) are decorations, not content.
constexpr double kMinimumSide = 30;

std::string trimmed(std::string_view text) {
    return std::string(trimWhitespaceAndNewlines(text));
}

// The key that identifies a window for change detection: its ID and its current title.
std::string changeKey(const SCWindow& window) {
    return std::to_string(window.windowID) + "-" + trimmed(window.title.value_or(""));
}

}  // namespace

std::shared_ptr<WindowCaptureContextProvider> WindowCaptureContextProvider::create(
    Dependencies dependencies) {
    std::shared_ptr<WindowCaptureContextProvider> provider(
        new WindowCaptureContextProvider(std::move(dependencies)));
    provider->loadExcludedApps();
    provider->observeExcludedAppsChanges();
    return provider;
}

WindowCaptureContextProvider::WindowCaptureContextProvider(Dependencies dependencies)
    : deps_(std::move(dependencies)),
      lock_(deps_.runtime->makeConcurrentQueue(lockQueueLabel)),
      processingQueue_(deps_.runtime->makeSerialQueue(processingQueueLabel)),
      userExcludedApps_(std::make_shared<const BundleIDSet>()) {}

WindowCaptureContextProvider::~WindowCaptureContextProvider() = default;

void WindowCaptureContextProvider::observeExcludedAppsChanges() {
    std::weak_ptr<WindowCaptureContextProvider> weak = weak_from_this();
    excludedAppsObserver_ = deps_.defaultCenter->addObserver(
        NotificationName::excludedAppsDidChange, deps_.runtime->mainQueue(),
        [weak](const Notification&) {
            if (auto self = weak.lock()) {
                self->loadExcludedApps();
                self->refreshContent([](const std::optional<FilteredShareableContent>&, bool) {});
            }
        });
}

void WindowCaptureContextProvider::refreshContent(RefreshCompletion completion) {
    std::weak_ptr<WindowCaptureContextProvider> weak = weak_from_this();
    processingQueue_->async([weak, completion = std::move(completion)]() mutable {
        if (auto self = weak.lock()) {
            self->requestContent(std::move(completion));
        }
    });
}

void WindowCaptureContextProvider::requestContent(RefreshCompletion completion) {
    std::weak_ptr<WindowCaptureContextProvider> weak = weak_from_this();
    // The service answers on a thread of its own; the answer is handled on the processing queue.
    deps_.captureService->getShareableContent(
        /*excludingDesktopWindows=*/false, /*onScreenWindowsOnly=*/true,
        [weak, queue = processingQueue_,
         completion = std::move(completion)](ShareableContentResult result) mutable {
            queue->async(
                [weak, result = std::move(result), completion = std::move(completion)]() mutable {
                    if (auto self = weak.lock()) {
                        self->handleAnswer(std::move(result), std::move(completion));
                    }
                });
        });
}

void WindowCaptureContextProvider::handleAnswer(ShareableContentResult result,
                                                RefreshCompletion completion) {
    if (const auto* error = std::get_if<Error>(&result)) {
        if (error->domain == kSCStreamErrorDomain && error->code == kSCStreamErrorUserDeclined) {
            // Permission may be granted at any moment; ask again until it is, without reporting.
            std::weak_ptr<WindowCaptureContextProvider> weak = weak_from_this();
            processingQueue_->asyncAfter(permissionRetryInterval, [weak, completion] {
                if (auto self = weak.lock()) {
                    self->requestContent(completion);
                }
            });
        } else {
            TOVALO_DEBUG_LOG(kLogTag, "refresh content error: " + error->description);
            deps_.errorReporter->capture(*error, ReportLevel::error,
                                         ReportTags{{"error_domain", error->domain},
                                                    {"error_code", std::to_string(error->code)}},
                                         ValueMap{{"operation", Value(kRefreshOperation)}});
        }
        deliver(std::move(completion), std::nullopt, false);
        return;
    }

    auto content = std::get<SCShareableContent>(std::move(result));
    if (content.displays.empty()) {
        TOVALO_DEBUG_LOG(kLogTag, "No displays connected.");
        deliver(std::move(completion), std::nullopt, false);
        return;
    }
    lock_->asyncBarrier(
        [self = shared_from_this(), content = std::move(content),
         completion = std::move(completion)] { self->storeContent(content, completion); });
}

void WindowCaptureContextProvider::storeContent(const SCShareableContent& content,
                                                const RefreshCompletion& completion) {
    FilterResult filtered = filterWindows(content.windows);
    const bool changed = hasChanged(content.displays, filtered.capturable);

    FilteredShareableContent capturable{content.displays, filtered.capturable};
    PickerShareableContent picker{content.displays, std::move(filtered.capturable), {}};
    for (auto& window : filtered.excluded) {
        picker.excludedWindowIDs.insert(window.windowID);
        picker.windows.push_back(std::move(window));
    }
    cachedContent_ = capturable;
    cachedPickerContent_ = std::move(picker);
    deliver(completion, std::move(capturable), changed);
}

WindowCaptureContextProvider::FilterResult WindowCaptureContextProvider::filterWindows(
    const std::vector<SCWindow>& windows) const {
    const auto userExcluded = userExcludedApps();
    std::optional<std::string> ownBundleID;
    if (auto value = deps_.bundleInfo->infoValue(BundleInfoKey::identifier)) {
        ownBundleID = value->asString();
    }

    FilterResult result;
    for (const auto& window : windows) {
        if (!window.isOnScreen) {
            continue;
        }
        if (auto info = deps_.windowInfo(window.windowID); info && !info->empty()) {
            if (auto it = info->find("layer"); it != info->end()) {
                // Only normal-layer windows are content; a value of another type skips the check.
                if (auto layer = it->second.asInt(); layer && *layer != 0) {
                    continue;
                }
            }
            if (auto it = info->find("sharingState"); it != info->end()) {
                // The window forbids sharing: shown in the picker, never captured.
                if (auto sharing = it->second.asInt(); sharing && *sharing == 0) {
                    result.excluded.push_back(window);
                    continue;
                }
            }
        }
        if (!window.owningApplication) {
            continue;
        }
        const std::string bundleID = trimmed(window.owningApplication->bundleIdentifier);
        if (bundleID.empty() || bundleID == ownBundleID) {
            continue;
        }
        if (!(window.frame.width() > kMinimumSide) || !(window.frame.height() > kMinimumSide)) {
            continue;
        }
        if (displayName(window, bundleID).find(kStatusItemMarker) != std::string::npos) {
            continue;
        }
        if (builtInExcludedBundleIDs().contains(bundleID) || userExcluded->contains(bundleID)) {
            result.excluded.push_back(window);
            continue;
        }
        result.capturable.push_back(window);
    }
    return result;
}

std::string WindowCaptureContextProvider::displayName(const SCWindow& window,
                                                      const std::string& bundleID) const {
    if (auto title = trimmed(window.title.value_or("")); !title.empty()) {
        return title;
    }
    const auto apps = deps_.workspace->runningApplications(bundleID);
    if (!apps.empty() && apps.front()) {
        if (auto name = trimmed(apps.front()->localizedName()); !name.empty()) {
            return name;
        }
    }
    if (window.owningApplication && window.owningApplication->applicationName != kUnknownAppName) {
        if (auto name = trimmed(window.owningApplication->applicationName); !name.empty()) {
            return name;
        }
    }
    return bundleID;
}

bool WindowCaptureContextProvider::hasChanged(const std::vector<SCDisplay>& displays,
                                              const std::vector<SCWindow>& windows) const {
    if (!cachedContent_) {
        return true;
    }
    auto windowKeys = [](const std::vector<SCWindow>& list) {
        std::set<std::string> keys;
        for (const auto& window : list) {
            keys.insert(changeKey(window));
        }
        return keys;
    };
    auto displayIDs = [](const std::vector<SCDisplay>& list) {
        std::set<DisplayID> ids;
        for (const auto& display : list) {
            ids.insert(display.displayID);
        }
        return ids;
    };
    return !(windowKeys(cachedContent_->windows) == windowKeys(windows) &&
             displayIDs(cachedContent_->displays) == displayIDs(displays));
}

void WindowCaptureContextProvider::deliver(RefreshCompletion completion,
                                           std::optional<FilteredShareableContent> content,
                                           bool changed) const {
    if (!completion) {
        return;
    }
    deps_.runtime->mainQueue()->async([completion = std::move(completion),
                                       content = std::move(content),
                                       changed] { completion(content, changed); });
}

std::optional<FilteredShareableContent> WindowCaptureContextProvider::currentContent() const {
    return lock_->sync([this] { return cachedContent_; });
}

std::optional<PickerShareableContent> WindowCaptureContextProvider::currentPickerContent() const {
    return lock_->sync([this] { return cachedPickerContent_; });
}

void WindowCaptureContextProvider::invalidateCache() {
    lock_->syncBarrier([this] {
        cachedContent_.reset();
        cachedPickerContent_.reset();
    });
}

bool WindowCaptureContextProvider::isExcluded(const SCWindow& window) const {
    if (!window.owningApplication) {
        return true;
    }
    const std::string name = trimmed(window.owningApplication->applicationName);
    if (name.empty() || name == kUnknownAppName) {
        return true;
    }
    const std::string& bundleID = window.owningApplication->bundleIdentifier;
    return builtInExcludedBundleIDs().contains(bundleID) || userExcludedApps()->contains(bundleID);
}

void WindowCaptureContextProvider::loadExcludedApps() {
    const auto list = deps_.preferences->stringList(PreferenceKey::snapshotExcludedAppBundleIDs);
    auto apps = std::make_shared<const BundleIDSet>(list ? BundleIDSet(list->begin(), list->end())
                                                         : BundleIDSet{});
    lock_->asyncBarrier([self = shared_from_this(), apps = std::move(apps)]() mutable {
        std::lock_guard guard(self->userExcludedAppsMutex_);
        self->userExcludedApps_ = std::move(apps);
    });
}

std::shared_ptr<const WindowCaptureContextProvider::BundleIDSet>
WindowCaptureContextProvider::userExcludedApps() const {
    std::lock_guard guard(userExcludedAppsMutex_);
    return userExcludedApps_;
}

}  // namespace tovalo
