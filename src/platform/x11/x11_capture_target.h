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
#include "platform/x11/x11_named_pixmap.h"

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
    xcb_pixmap_t pixmap() const { return pixmap_ ? pixmap_->id() : xcb_pixmap_t{XCB_NONE}; }
    // The current picture; frames hold it so it outlives the next rename while they are shown.
    const std::shared_ptr<const NamedPixmap>& namedPixmap() const { return pixmap_; }
    std::uint32_t width() const { return pixmap_ ? pixmap_->width() : 0; }
    std::uint32_t height() const { return pixmap_ ? pixmap_->height() : 0; }
    xcb_window_t client() const { return client_; }
    xcb_window_t frame() const { return frame_; }

    // Called as the picture is taken: changes reported so far are in it; the next one is
    // reported again.
    void takeChanges();

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
    xcb_visualid_t frameVisual_ = XCB_NONE;
    std::shared_ptr<const NamedPixmap> pixmap_;
    bool redirected_ = false;
    bool clientMapped_ = false;
    bool frameMapped_ = false;
    bool gone_ = false;
    bool damagePending_ = false;
    std::vector<Listener*> listeners_;
};

}  // namespace tovalo::x11
