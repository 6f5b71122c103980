#pragma once

// Draws server-side frames into one window with XRender: the source's named pixmap composited
// straight into the window, scaled on the server (smooth when shrinking, sharp when enlarging),
// at an opacity, with the rest of the window cleared to transparent. No pixel passes through
// this process. Works on any connection to the server (the toolkit's own, so its window requests
// and these drawings stay in order); main thread of that connection's owner only.

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/x11/x11_surface_frame.h"

namespace tovalo::x11 {

class SurfaceCompositor {
  public:
    // A rectangle in the window's pixels.
    struct Area {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };

    // `connection` is not owned and must outlive the compositor.
    SurfaceCompositor(xcb_connection_t* connection, xcb_window_t window);
    ~SurfaceCompositor();
    SurfaceCompositor(const SurfaceCompositor&) = delete;
    SurfaceCompositor& operator=(const SurfaceCompositor&) = delete;

    // True when the server has RENDER and the window's format is known.
    bool isUsable() const { return windowPicture_ != XCB_NONE; }
    xcb_window_t window() const { return window_; }

    // Shows `frame` scaled into `target` and clears the rest of the `windowSize` area; an empty
    // target or zero opacity only clears. False when nothing could be drawn.
    bool draw(const SurfaceFrame& frame, Area target, Area window, double opacity);
    // Clears `window` to transparent.
    void clear(Area window);

  private:
    bool useSource(const std::shared_ptr<const NamedPixmap>& pixmap);
    void setScale(const NamedPixmap& pixmap, Area target);
    xcb_render_picture_t opacityMask(double opacity);
    void clearAround(Area target, Area window);

    xcb_connection_t* const connection_;
    const xcb_window_t window_;
    xcb_render_picture_t windowPicture_ = XCB_NONE;

    std::shared_ptr<const NamedPixmap> source_;
    xcb_render_picture_t sourcePicture_ = XCB_NONE;
    // The transform and filter last set on the source picture, so unchanged ones are not resent.
    std::int32_t scaleX_ = 0;
    std::int32_t scaleY_ = 0;
    std::string filter_;

    xcb_render_picture_t mask_ = XCB_NONE;
    std::uint16_t maskAlpha_ = 0;
};

}  // namespace tovalo::x11
