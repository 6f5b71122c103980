// The `tovalo` executable. Until the desktop backend exists this is a headless preview: it
// builds the foundation the way the program will (threaded dispatch, the preferences file, the
// shared state, language and theme managers), prints the resulting state and exits.

#include <cstdio>
#include <memory>
#include <string>

#include "base/dispatch_runtime.h"
#include "base/notification_center.h"
#include "base/run_loop.h"
#include "platform/desktop_appearance.h"
#include "platform/posix/file_preferences_store.h"
#include "platform/posix/xdg_paths.h"
#include "prefs/app_state.h"
#include "prefs/localization_manager.h"
#include "prefs/preferences.h"
#include "prefs/theme_manager.h"

namespace {

using namespace tovalo;

// Light/dark detection comes with the desktop backend; until then the desktop reports no
// preference, which reads as light.
class UndetectedDesktopAppearance final : public DesktopAppearance {
  public:
    Match bestMatch() const override { return Match::none; }
};

std::string join(const std::vector<std::string>& items) {
    std::string out;
    for (const auto& item : items) {
        out += out.empty() ? item : ", " + item;
    }
    return out.empty() ? "(none)" : out;
}

}  // namespace

int main() {
    auto loop = std::make_shared<RunLoop>();
    auto runtime = DispatchRuntime::makeThreaded(loop);
    auto defaultCenter = std::make_shared<NotificationCenter>("default");
    auto distributedCenter = std::make_shared<NotificationCenter>("distributed");

    const XdgPaths paths(XdgPaths::processEnvironment());
    const auto configDir = paths.tovaloConfigDir();
    if (!configDir) {
        std::fputs("tovalo: no home directory and no XDG_CONFIG_HOME; cannot keep settings\n",
                   stderr);
        return 1;
    }
    auto store = std::make_shared<FilePreferencesStore>(*configDir + "/preferences.json",
                                                        defaultCenter.get(), runtime->clock());

    auto appState = AppState::create(*store, *defaultCenter);
    auto localization = LocalizationManager::create(store, defaultCenter, *runtime, appState);
    localization->applyStartupLanguage();
    auto themes = ThemeManager::create({store, defaultCenter, distributedCenter, runtime,
                                        std::make_shared<UndetectedDesktopAppearance>()});

    std::printf("Tovalo headless preview (the X11 desktop backend is not built yet)\n");
    std::printf("  settings file       %s\n", store->path().c_str());
    std::printf("  interface language  %s\n",
                std::string(rawValue(appState->preferredLanguage().get())).c_str());
    std::printf("  appearance          %s (effective %s)\n",
                std::string(rawValue(Preferences::appTheme(*store))).c_str(),
                std::string(rawValue(themes->effectiveTheme())).c_str());
    std::printf("  overlay opacity     %.2f\n", Preferences::overlayOpacity(*store));
    std::printf("  activation mode     %s\n",
                std::string(rawValue(Preferences::overlayActivationMode(*store))).c_str());
    std::printf("  button position     %s\n",
                std::string(rawValue(Preferences::overlayButtonPosition(*store))).c_str());
    std::printf("  excluded apps       %s\n",
                join(Preferences::snapshotExcludedAppBundleIDs(*store)).c_str());
    std::printf("  menu-bar icon       %s\n",
                Preferences::showMenuBarIcon(*store) ? "shown" : "hidden");
    loop->runPending();
    return store->synchronize() ? 0 : 2;
}
