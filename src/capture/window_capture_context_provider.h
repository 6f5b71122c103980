#pragma once

// The program's single source of the windows and displays that can be captured right now. It
// asks the capture service for its shareable content, drops what must never be offered (this
// program's windows, menu-bar items, system chrome, windows off the normal layer, tiny windows)
// and sets windows of excluded applications apart, then caches the result for the window lists,
// the picker, the thumbnail screen, the pinned-window manager and the capture code. One instance
// lives for the whole process, built by the composition root.
//
// Threads: the caches are guarded by the concurrent queue "WindowCaptureContextProvider.lock"
// (plain synchronous reads, barrier writes); requests to the capture service and the first
// handling of their answers run on the serial queue "WindowCaptureContextProvider.processing";
// completions run on the main queue. Every public call is safe from any thread.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "base/dispatch_queue.h"
#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/preferences_store.h"
#include "base/value.h"
#include "capture/capture_service.h"
#include "capture/capture_types.h"
#include "capture/filtered_shareable_content.h"
#include "capture/picker_shareable_content.h"
#include "platform/bundle_info.h"
#include "platform/workspace.h"
#include "telemetry/error_reporter.h"

namespace tovalo {

class WindowCaptureContextProvider
    : public std::enable_shared_from_this<WindowCaptureContextProvider> {
  public:
    // The window server's facts about one window ("layer", "sharingState", ...), read on the
    // window-information queue; nullopt when the window server knows nothing of it.
    using WindowInfoReader = std::function<std::optional<ValueMap>(WindowID)>;
    // `content` is nullopt on any failure; `changed` tells whether the capturable windows or the
    // displays differ from the previous cache.
    using RefreshCompletion =
        std::function<void(const std::optional<FilteredShareableContent>& content, bool changed)>;

    // All required.
    struct Dependencies {
        std::shared_ptr<DispatchRuntime> runtime;
        std::shared_ptr<CaptureService> captureService;
        WindowInfoReader windowInfo;
        // Running applications' names, for the display name of untitled windows.
        std::shared_ptr<Workspace> workspace;
        // This program's own identifier ("CFBundleIdentifier").
        std::shared_ptr<BundleInfo> bundleInfo;
        // Holds "snapshotExcludedAppBundleIDs".
        std::shared_ptr<PreferencesStore> preferences;
        // Carries "excludedAppsDidChange".
        std::shared_ptr<NotificationCenter> defaultCenter;
        std::shared_ptr<ErrorReporter> errorReporter;
    };

    static constexpr const char* lockQueueLabel = "WindowCaptureContextProvider.lock";
    static constexpr const char* processingQueueLabel = "WindowCaptureContextProvider.processing";
    // While screen recording is declined the request is repeated this often.
    static constexpr Duration permissionRetryInterval = std::chrono::seconds(1);

    // Starts with empty caches, loads the user's excluded applications and, while the provider
    // lives, reloads them and refreshes on "excludedAppsDidChange" (observed on the main queue).
    static std::shared_ptr<WindowCaptureContextProvider> create(Dependencies dependencies);

    ~WindowCaptureContextProvider();
    WindowCaptureContextProvider(const WindowCaptureContextProvider&) = delete;
    WindowCaptureContextProvider& operator=(const WindowCaptureContextProvider&) = delete;

    // Asks for fresh content and returns at once. `completion` runs later on the main queue,
    // once per answer: with the filtered content on success, with nullopt on failures (which
    // leave the cache as it was). While recording is declined it runs once now and once after
    // every retry. Nothing runs once the provider is gone.
    void refreshContent(RefreshCompletion completion);

    // The cache of the last successful refresh; nullopt before it and after invalidateCache().
    std::optional<FilteredShareableContent> currentContent() const;
    std::optional<PickerShareableContent> currentPickerContent() const;
    // Empties both caches before returning.
    void invalidateCache();

    // Whether `window` must not be listed: no owning application, no usable application name,
    // or an application (by its identifier as given) that is excluded built-in or by the user.
    bool isExcluded(const SCWindow& window) const;

    // Re-reads the user's excluded applications; an unreadable value counts as none. Takes
    // effect for refreshes requested after this call.
    void loadExcludedApps();

  private:
    using BundleIDSet = std::set<std::string, std::less<>>;

    struct FilterResult {
        std::vector<SCWindow> capturable;
        std::vector<SCWindow> excluded;
    };

    explicit WindowCaptureContextProvider(Dependencies dependencies);
    void observeExcludedAppsChanges();

    // On the processing queue.
    void requestContent(RefreshCompletion completion);
    void handleAnswer(ShareableContentResult result, RefreshCompletion completion);
    // In a barrier block on the lock queue.
    void storeContent(const SCShareableContent& content, const RefreshCompletion& completion);
    FilterResult filterWindows(const std::vector<SCWindow>& windows) const;
    std::string displayName(const SCWindow& window, const std::string& bundleID) const;
    bool hasChanged(const std::vector<SCDisplay>& displays,
                    const std::vector<SCWindow>& windows) const;

    void deliver(RefreshCompletion completion, std::optional<FilteredShareableContent> content,
                 bool changed) const;
    std::shared_ptr<const BundleIDSet> userExcludedApps() const;

    const Dependencies deps_;
    const std::shared_ptr<DispatchQueue> lock_;
    const std::shared_ptr<DispatchQueue> processingQueue_;

    // Written only in barrier blocks on lock_, read in plain blocks on it.
    std::optional<FilteredShareableContent> cachedContent_;
    std::optional<PickerShareableContent> cachedPickerContent_;
    // Replaced whole in barrier blocks on lock_. isExcluded reads it from any thread without
    // waiting for the queue, so it is an immutable set whose pointer the mutex guards (held only
    // to copy or swap the pointer).
    mutable std::mutex userExcludedAppsMutex_;
    std::shared_ptr<const BundleIDSet> userExcludedApps_;

    ObserverToken excludedAppsObserver_;
};

}  // namespace tovalo
