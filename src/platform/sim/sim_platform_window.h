#pragma once

// A window of this program on the simulated desktop (an overlay panel, a picker panel, the main
// window). It records everything the core sets so tests can read it back, and it is listed by
// the window server as one of this program's windows under its window number. Made by
// SimWindowFactory; the caller owns it, the desktop only follows it. Its content appears when it
// is installed and disappears when it is replaced or the window closes; animations finish on the
// desktop's virtual time: the final value is applied once the duration has passed.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform_window.h"
#include "platform/sim/sim_desktop.h"

namespace tovalo::sim {

class SimPlatformWindow final : public PlatformWindow,
                                public std::enable_shared_from_this<SimPlatformWindow> {
  public:
    // Registers itself with `desktop`; not visible until ordered front.
    static std::shared_ptr<SimPlatformWindow> make(const std::shared_ptr<SimDesktop>& desktop,
                                                   const WindowCreationOptions& options);
    // A window dropped without closing leaves the desktop's lists too.
    ~SimPlatformWindow() override;

    std::uint32_t windowNumber() const override { return windowNumber_; }

    Rect frame() const override;
    void setFrame(const Rect& frame, bool display) override;
    WindowLevel level() const override;
    void setLevel(WindowLevel level) override;
    std::string title() const override;
    void setTitle(const std::string& title) override;
    double alphaValue() const override;
    void setAlphaValue(double alpha) override;
    bool ignoresMouseEvents() const override;
    void setIgnoresMouseEvents(bool ignores) override;
    bool isVisible() const override;
    bool isKeyWindow() const override;

    void orderFront() override;
    void orderFrontRegardless() override;
    void makeKeyAndOrderFront() override;
    void orderOut() override;
    // Runs the will-close observers first (once, also when called again from one of them).
    void close() override;
    bool isClosed() const override;

    std::shared_ptr<WindowContent> content() const override;
    void setContent(std::shared_ptr<WindowContent> content) override;

    [[nodiscard]] Subscription observeWillClose(std::function<void()> observer) override;

    // Applies the target value and then completes, both in one main-queue task once
    // `request.duration` has passed on the desktop's clock.
    void animate(const AnimationRequest& request, std::function<void(double)> apply,
                 std::function<void()> completion) override;

    // Every animation asked for, oldest first.
    std::vector<AnimationRequest> animationRequests() const;

    // What it was made with.
    WindowStyleMask styleMask() const { return styleMask_; }
    bool isPanel() const { return isPanel_; }
    // How often each kind of ordering was asked for, for tests.
    int orderFrontCount() const;
    int orderOutCount() const;
    int willCloseObserverCount() const;

  private:
    struct State {
        Rect frame;
        WindowLevel level = WindowLevel::normal;
        std::string title;
        double alpha = 1.0;
        bool ignoresMouse = false;
        bool visible = false;
        bool closing = false;
        bool closed = false;
        std::shared_ptr<WindowContent> content;
        // The content was told it appeared and not yet that it disappeared.
        bool contentShown = false;
        int orderFrontCount = 0;
        int orderOutCount = 0;
    };

    SimPlatformWindow(std::weak_ptr<SimDesktop> desktop, const WindowCreationOptions& options);
    SimDesktop::OwnWindowUpdate updateLocked() const;
    // Mirrors the state into the desktop's window list; no lock held.
    void mirror(const SimDesktop::OwnWindowUpdate& update);
    void show(bool makeKey);

    const std::weak_ptr<SimDesktop> desktop_;
    const WindowStyleMask styleMask_;
    const bool isPanel_;
    WindowID windowNumber_ = 0;

    mutable std::mutex mutex_;
    State state_;
    std::map<std::uint64_t, std::function<void()>> willCloseObservers_;
    std::vector<AnimationRequest> animations_;
    std::uint64_t nextObserverID_ = 1;
};

}  // namespace tovalo::sim
