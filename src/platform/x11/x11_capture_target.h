#pragma once

// One source window as the capture service follows it on the server: the window manager's frame
// around the client (the client itself when it is unmanaged) redirected off-screen, its pixmap
// named again after every resize and map, a DAMAGE object reporting changes, and the client's
// fate: hidden (minimised, other desktop) or gone (destroyed, withdrawn). A named pixmap
// outlives its window, so reads are only allowed while the window is known to be shown.
// Shared by the capture sessions of that window; lives on the engine's service thread.

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/error.h"

namespace tovalo::x11 {

class CaptureEngine;

class CaptureTarget {
  public:
    // Told on the service thread.
    class Listener {
      public:
        virtual ~Listener() = default;
        // The picture changed (drawn, resized, shown again).
        virtual void targetChanged() = 0;
        // The window is gone for good; told once.
        virtual void targetGone(const Error& error) = 0;
    };

    // Nullptr with `error` filled when `client` does not exist or cannot be redirected.
    static std::shared_ptr<CaptureTarget> open(CaptureEngine& engine, xcb_window_t client,
                                               Error* error);
    ~CaptureTarget();
    CaptureTarget(const CaptureTarget&) = delete;
    CaptureTarget& operator=(const CaptureTarget&) = delete;

    void addListener(Listener* listener);
    void removeListener(Listener* listener);

    // True while the pixmap holds the window as it is shown now.
    bool isReadable() const;
    bool isGone() const { return gone_; }
    xcb_pixmap_t pixmap() const { return pixmap_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    xcb_window_t client() const { return client_; }
    xcb_window_t frame() const { return frame_; }

    // An event routed here by the engine.
    void handleEvent(const xcb_generic_event_t* event);

  private:
    CaptureTarget(CaptureEngine& engine, xcb_window_t client);

    // Follows the client's current top-level window; false with `error` when the window is gone.
    bool attach(Error* error);
    void detach();
    // Names the frame's pixmap again (the old one shows the old size or nothing).
    void renamePixmap();
    void freePixmap();
    void becomeGone(const std::string& reason);
    void notifyChanged();
    // The client's ICCCM state: 0 withdrawn, 1 normal, 3 iconic; nullopt when it has none.
    std::optional<std::uint32_t> readWmState();
    xcb_window_t topLevelOf(xcb_window_t window, Error* error);

    CaptureEngine& engine_;
    const xcb_window_t client_;
    xcb_window_t frame_ = XCB_NONE;
    xcb_damage_damage_t damage_ = XCB_NONE;
    xcb_pixmap_t pixmap_ = XCB_NONE;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    bool redirected_ = false;
    bool clientMapped_ = false;
    bool frameMapped_ = false;
    bool gone_ = false;
    std::vector<Listener*> listeners_;
};

}  // namespace tovalo::x11
