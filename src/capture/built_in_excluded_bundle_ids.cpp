#include "capture/built_in_excluded_bundle_ids.h"

namespace tovalo {

const std::set<std::string, std::less<>>& builtInExcludedBundleIDs() {
    static const std::set<std::string, std::less<>> ids{
        "",
        "com.bjango.istatmenus.status",
        "com.dwarvesv.minimalbar",
        "com.tovalohq.tovalo",
        "com.macpaw.CleanMyMac4",
        "com.pointum.hazeover",
        "com.apple.WindowManager",
        "com.apple.controlcenter",
        "com.apple.dock",
        "com.apple.notificationcenterui",
        "com.apple.screencaptureui",
        "com.apple.systemuiserver",
        "com.apple.wallpaper.agent",
        // Screenshot and screen-recording tools whose overlays cover every window.
        "org.flameshot.Flameshot",
        "com.obsproject.Studio",
        "org.gnome.Screenshot",
    };
    return ids;
}

}  // namespace tovalo
