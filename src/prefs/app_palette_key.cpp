#include "prefs/app_palette_key.h"

#include "prefs/app_styles.h"
#include "prefs/theme_manager.h"

namespace tovalo {

AppPaletteKey::AppPaletteKey(std::function<Palette()> computeDefault)
    : computeDefault_(std::move(computeDefault)) {}

std::unique_ptr<AppPaletteKey> AppPaletteKey::forSystemTheme(
    std::shared_ptr<ThemeManager> themeManager, std::shared_ptr<OperatingSystemInfo> os) {
    return std::make_unique<AppPaletteKey>([themeManager = std::move(themeManager),
                                            os = std::move(os)] {
        return AppStyles::palette(AppTheme::system, themeManager->currentSystemTheme().get(), *os);
    });
}

const Palette& AppPaletteKey::defaultValue() const {
    std::call_once(once_, [this] { value_.emplace(computeDefault_()); });
    return *value_;
}

}  // namespace tovalo
