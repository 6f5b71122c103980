#pragma once

// A top-level window of this program on the Qt backend: the overlay and picker panels, the main
// window. The core sets state; the widget (QtPanelWidget) only draws it. Frames are screen
// coordinates (bottom-left origin of the primary screen) converted at this border.
//
// Panels are override-redirect windows (the window manager does not manage them): frameless,
// placed exactly where asked, never given the focus, stacked above the other clients when
// ordered front, and their click-through and hiding stay reliable. A managed "stay on top" tool
// window was measured to lose its above state on quick hide/show and to swallow clicks in its
// frame's input shape after remapping, and overlays hide and show all the time. Click-through is
// toggled on the mapped native window, never by remapping. Other windows are ordinary managed
// windows.
//
// Made by QtWindowFactory; the caller owns it. Main thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/dispatch_runtime.h"
#include "platform/platform_window.h"

namespace tovalo::qt {

class QtPanelWidget;
class QtVideoLayer;

class QtPanel final : public PlatformWindow, public std::enable_shared_from_this<QtPanel> {
  public:
    // The native window exists once this returns (windowNumber() is valid); not shown yet.
    static std::shared_ptr<QtPanel> make(const WindowCreationOptions& options,
                                         std::shared_ptr<DispatchRuntime> runtime);
    // A panel dropped without closing takes its window down with it.
    ~QtPanel() override;
    QtPanel(const QtPanel&) = delete;
    QtPanel& operator=(const QtPanel&) = delete;

    // The X window id (XID) of its native window.
    std::uint32_t windowNumber() const override { return windowNumber_; }

    Rect frame() const override;
    void setFrame(const Rect& frame, bool display) override;
    WindowLevel level() const override { return level_; }
    void setLevel(WindowLevel level) override;
    std::string title() const override { return title_; }
    void setTitle(const std::string& title) override;
    double alphaValue() const override { return alpha_; }
    // Kept within 0–1; NaN is ignored.
    void setAlphaValue(double alpha) override;
    bool ignoresMouseEvents() const override { return ignoresMouse_; }
    void setIgnoresMouseEvents(bool ignores) override;
    bool isVisible() const override;
    bool isKeyWindow() const override;

    void orderFront() override;
    void orderFrontRegardless() override;
    void makeKeyAndOrderFront() override;
    void orderOut() override;
    // Runs the will-close observers first (once, also when called again from one of them).
    void close() override;
    bool isClosed() const override { return closed_; }

    std::shared_ptr<WindowContent> content() const override { return content_; }
    void setContent(std::shared_ptr<WindowContent> content) override;

    [[nodiscard]] Subscription observeWillClose(std::function<void()> observer) override;

    // Steps the value at about 60 Hz on the runtime's main queue, from the last value this
    // window's animations presented (the target itself when none did yet) to the target.
    void animate(const AnimationRequest& request, std::function<void(double)> apply,
                 std::function<void()> completion) override;

    // ---- Backend side ----
    bool isPanel() const { return isPanel_; }
    // Shows `layer`'s picture over the whole window at `opacity`.
    void setVideoLayer(std::shared_ptr<QtVideoLayer> layer);
    void setVideoOpacity(double opacity);
    void setPointerHandlers(std::function<void(bool)> hover, std::function<void()> press);
    // The widget that draws it; null once closed.
    QtPanelWidget* widget() const { return widget_; }
    // Grows each time a window is ordered front: the later, the nearer the front.
    std::uint64_t orderStamp() const { return orderStamp_; }

    static constexpr Duration kAnimationFrameInterval = milliseconds(1000.0 / 60.0);

  private:
    QtPanel(const WindowCreationOptions& options, std::shared_ptr<DispatchRuntime> runtime);
    void show(bool makeKey);
    void destroyWidget(bool deferred);

    const std::shared_ptr<DispatchRuntime> runtime_;
    const bool isPanel_;
    QtPanelWidget* widget_ = nullptr;  // owned
    std::uint32_t windowNumber_ = 0;
    WindowLevel level_ = WindowLevel::normal;
    std::string title_;
    double alpha_ = 1.0;
    bool ignoresMouse_ = false;
    bool closing_ = false;
    bool closeFromWidget_ = false;
    Rect closedFrame_;
    bool closed_ = false;
    std::shared_ptr<WindowContent> content_;
    // Connects what the content shows (video, opacity) and hears (pointer) to this panel.
    Subscription contentBinding_;
    bool contentShown_ = false;
    std::map<std::uint64_t, std::function<void()>> willCloseObservers_;
    std::uint64_t nextObserverID_ = 1;
    std::uint64_t orderStamp_ = 0;
    // Shared with running animations, which outlive the panel when it goes away.
    std::shared_ptr<std::optional<double>> presentedValue_ =
        std::make_shared<std::optional<double>>();
};

}  // namespace tovalo::qt
