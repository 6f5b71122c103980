#pragma once

// The view-environment entry that carries the palette down the view tree. Its default, seen by
// views that no ancestor gave a palette, is the palette of the `system` theme as it resolves the
// first time the default is needed; later changes of the system theme do not alter it. The
// composition root owns the one instance (so the memo lives as long as the views, without a
// global).

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/operating_system_info.h"
#include "prefs/palette.h"

namespace tovalo {

class ThemeManager;

class AppPaletteKey {
  public:
    using Value = Palette;

    // `computeDefault` runs at most once, on the first `defaultValue()` call.
    explicit AppPaletteKey(std::function<Palette()> computeDefault);

    // The default palette for `system` as `themeManager` and `os` see it at first use.
    static std::unique_ptr<AppPaletteKey> forSystemTheme(std::shared_ptr<ThemeManager> themeManager,
                                                         std::shared_ptr<OperatingSystemInfo> os);

    AppPaletteKey(const AppPaletteKey&) = delete;
    AppPaletteKey& operator=(const AppPaletteKey&) = delete;

    // Safe to call from any thread; every caller sees the same palette.
    const Palette& defaultValue() const;

  private:
    std::function<Palette()> computeDefault_;
    mutable std::once_flag once_;
    mutable std::optional<Palette> value_;
};

}  // namespace tovalo
