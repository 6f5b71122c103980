#pragma once

// Port: a top-level window of this program (the overlay panels, the picker's panels, the main
// window). The core sets state and the backend shows it. Frames are screen coordinates
// (bottom-left origin of the primary display, points). All calls on the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/geometry.h"
#include "base/subscription.h"
#include "platform/animation_request.h"

namespace tovalo {

class PlatformWindow;

// What a window shows. The subsystems define the concrete contents (the overlay view, the
// picker's outline, ...); a backend draws the kinds it knows.
class WindowContent {
  public:
    virtual ~WindowContent() = default;

    // The window calls these on the main thread, never under its own lock: when the content
    // starts being shown in `host` (installed as its content), and when it stops (replaced,
    // removed, or the window closed). Each content appears at most once per installation.
    virtual void contentDidAppear(const std::shared_ptr<PlatformWindow>& /*host*/) {}
    virtual void contentDidDisappear() {}
};

using WindowStyleMask = std::uint32_t;
namespace WindowStyle {
inline constexpr WindowStyleMask borderless = 0;
inline constexpr WindowStyleMask titled = 1 << 0;
inline constexpr WindowStyleMask closable = 1 << 1;
inline constexpr WindowStyleMask miniaturizable = 1 << 2;
inline constexpr WindowStyleMask resizable = 1 << 3;
inline constexpr WindowStyleMask nonactivatingPanel = 1 << 7;
inline constexpr WindowStyleMask fullSizeContentView = 1 << 15;
}  // namespace WindowStyle

// Stacking bands, low to high.
enum class WindowLevel : int {
    normal = 0,
    floating = 3,
    modalPanel = 8,
    statusBar = 25,
    popUpMenu = 101,
    screenSaver = 1000,
};

class PlatformWindow {
  public:
    virtual ~PlatformWindow() = default;

    // The window server's number for this window (its window ID).
    virtual std::uint32_t windowNumber() const = 0;

    virtual Rect frame() const = 0;
    virtual void setFrame(const Rect& frame, bool display) = 0;
    virtual WindowLevel level() const = 0;
    virtual void setLevel(WindowLevel level) = 0;
    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual double alphaValue() const = 0;
    virtual void setAlphaValue(double alpha) = 0;
    virtual bool ignoresMouseEvents() const = 0;
    virtual void setIgnoresMouseEvents(bool ignores) = 0;
    virtual bool isVisible() const = 0;
    virtual bool isKeyWindow() const = 0;

    virtual void orderFront() = 0;
    // Brings it to the front even when this application is not active.
    virtual void orderFrontRegardless() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void orderOut() = 0;
    // Closes it for good; will-close observers run first, within this call.
    virtual void close() = 0;
    virtual bool isClosed() const = 0;

    virtual std::shared_ptr<WindowContent> content() const = 0;
    virtual void setContent(std::shared_ptr<WindowContent> content) = 0;

    // Runs `observer` on the calling thread when the window is about to close, however it closes.
    [[nodiscard]] virtual Subscription observeWillClose(std::function<void()> observer) = 0;

    // Plays an animation of one value the content shows, from what it shows now towards
    // `request.targetValue`: `apply` receives the values to present (at least the final one),
    // then `completion` runs once the duration has passed. Both run later on the main queue,
    // never within this call, also when the window closed meanwhile; the content decides
    // whether a finished animation still matters.
    virtual void animate(const AnimationRequest& request, std::function<void(double)> apply,
                         std::function<void()> completion) = 0;
};

using PlatformWindowRef = std::shared_ptr<PlatformWindow>;

struct WindowCreationOptions {
    Rect contentRect;  // screen coordinates
    WindowStyleMask styleMask = WindowStyle::borderless;
    bool isPanel = false;
    std::string title;
};

class WindowFactory {
  public:
    virtual ~WindowFactory() = default;
    virtual PlatformWindowRef makeWindow(const WindowCreationOptions& options) = 0;
};

}  // namespace tovalo
