#pragma once

// The screens port over RandR monitors. Frames are turned from root coordinates (top-left
// origin) into the port's bottom-left origin against the primary monitor; the visible frame
// leaves out what the window manager reserves for panels (_NET_WORKAREA of the current
// desktop). The scale is 1 until the Qt layer installs a provider answering each monitor's
// device pixel ratio. Main thread; owned by the composition root.

#include <functional>
#include <memory>

#include "platform/screens.h"
#include "platform/x11/x11_client_window_reader.h"
#include "platform/x11/x11_randr_monitors.h"

namespace tovalo::x11 {

class X11Screens final : public Screens {
  public:
    using ScaleProvider = std::function<double(const Monitor& monitor)>;

    explicit X11Screens(std::shared_ptr<const ClientWindowReader> reader);

    std::vector<Screen> screens() const override;
    // The monitor holding most of the active window, else the primary one.
    std::optional<Screen> mainScreen() const override;

    // The hook for the Qt layer: the backing scale factor of each monitor.
    void setScaleProvider(ScaleProvider provider) { scaleProvider_ = std::move(provider); }

    // A monitor as a screen, given the primary monitor's frame and the work area (both in
    // root coordinates).
    static Screen toScreen(const Monitor& monitor, const Rect& primaryFrame,
                           const std::optional<Rect>& workArea, double scale);

  private:
    std::optional<Rect> workArea() const;

    const std::shared_ptr<const ClientWindowReader> reader_;
    ScaleProvider scaleProvider_;
};

}  // namespace tovalo::x11
