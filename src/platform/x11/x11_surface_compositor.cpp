#include "platform/x11/x11_surface_compositor.h"

#include <xcb/xcb_renderutil.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tovalo::x11 {
namespace {

xcb_render_pictformat_t formatOfVisual(xcb_connection_t* connection, xcb_visualid_t visual,
                                       std::uint8_t depth) {
    // Cached per connection by the library.
    const xcb_render_query_pict_formats_reply_t* formats =
        xcb_render_util_query_formats(connection);
    if (!formats) {
        return XCB_NONE;
    }
    if (visual != XCB_NONE) {
        if (const xcb_render_pictvisual_t* found =
                xcb_render_util_find_visual_format(formats, visual)) {
            return found->format;
        }
    }
    const xcb_pict_standard_t standard =
        depth == 32 ? XCB_PICT_STANDARD_ARGB_32 : XCB_PICT_STANDARD_RGB_24;
    const xcb_render_pictforminfo_t* info = xcb_render_util_find_standard_format(formats, standard);
    return info ? info->id : xcb_render_pictformat_t{XCB_NONE};
}

xcb_render_fixed_t fixed(double value) {
    return static_cast<xcb_render_fixed_t>(std::lround(value * 65536.0));
}

}  // namespace

SurfaceCompositor::SurfaceCompositor(xcb_connection_t* connection, xcb_window_t window)
    : connection_(connection), window_(window) {
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        connection_, xcb_get_window_attributes(connection_, window_), nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window_), nullptr));
    if (!attributes || !geometry) {
        return;
    }
    const xcb_render_pictformat_t format =
        formatOfVisual(connection_, attributes->visual, geometry->depth);
    if (format == XCB_NONE) {
        return;
    }
    windowPicture_ = xcb_generate_id(connection_);
    xcb_render_create_picture(connection_, windowPicture_, window_, format, 0, nullptr);
}

SurfaceCompositor::~SurfaceCompositor() {
    for (const xcb_render_picture_t picture : {sourcePicture_, mask_, windowPicture_}) {
        if (picture != XCB_NONE) {
            xcb_render_free_picture(connection_, picture);
        }
    }
    xcb_flush(connection_);
}

bool SurfaceCompositor::useSource(const std::shared_ptr<const NamedPixmap>& pixmap) {
    if (pixmap == source_ && sourcePicture_ != XCB_NONE) {
        return true;
    }
    if (sourcePicture_ != XCB_NONE) {
        xcb_render_free_picture(connection_, sourcePicture_);
        sourcePicture_ = XCB_NONE;
    }
    // Holding the pixmap keeps its id from being freed (and reused) under the picture.
    source_ = pixmap;
    scaleX_ = 0;
    scaleY_ = 0;
    filter_.clear();
    if (!pixmap) {
        return false;
    }
    const xcb_render_pictformat_t format =
        formatOfVisual(connection_, pixmap->visual(), pixmap->depth());
    if (format == XCB_NONE) {
        return false;
    }
    sourcePicture_ = xcb_generate_id(connection_);
    // Edge pixels repeat outward so smoothing does not darken the border.
    const std::uint32_t repeat = XCB_RENDER_REPEAT_PAD;
    xcb_render_create_picture(connection_, sourcePicture_, pixmap->id(), format,
                              XCB_RENDER_CP_REPEAT, &repeat);
    return true;
}

void SurfaceCompositor::setScale(const NamedPixmap& pixmap, Area target) {
    // The transform maps the target's pixels back to the source's.
    const double sx = static_cast<double>(pixmap.width()) / target.width;
    const double sy = static_cast<double>(pixmap.height()) / target.height;
    const xcb_render_fixed_t fx = fixed(sx);
    const xcb_render_fixed_t fy = fixed(sy);
    if (fx != scaleX_ || fy != scaleY_) {
        const xcb_render_transform_t transform{fx, 0, 0, 0, fy, 0, 0, 0, fixed(1.0)};
        xcb_render_set_picture_transform(connection_, sourcePicture_, transform);
        scaleX_ = fx;
        scaleY_ = fy;
    }
    // Smooth when shrinking; enlarged pixels stay sharp (and 1:1 is a plain copy).
    const std::string filter = (sx > 1.0 || sy > 1.0) ? "bilinear" : "nearest";
    if (filter != filter_) {
        xcb_render_set_picture_filter(connection_, sourcePicture_,
                                      static_cast<std::uint16_t>(filter.size()), filter.c_str(), 0,
                                      nullptr);
        filter_ = filter;
    }
}

xcb_render_picture_t SurfaceCompositor::opacityMask(double opacity) {
    const auto alpha =
        static_cast<std::uint16_t>(std::lround(std::clamp(opacity, 0.0, 1.0) * 0xffff));
    if (alpha == 0xffff) {
        return XCB_NONE;
    }
    if (mask_ != XCB_NONE && alpha == maskAlpha_) {
        return mask_;
    }
    if (mask_ != XCB_NONE) {
        xcb_render_free_picture(connection_, mask_);
    }
    mask_ = xcb_generate_id(connection_);
    xcb_render_create_solid_fill(connection_, mask_, xcb_render_color_t{0, 0, 0, alpha});
    maskAlpha_ = alpha;
    return mask_;
}

void SurfaceCompositor::clearAround(Area target, Area window) {
    std::vector<xcb_rectangle_t> rectangles;
    const auto add = [&](std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
        if (width > 0 && height > 0) {
            rectangles.push_back(
                xcb_rectangle_t{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y),
                                static_cast<std::uint16_t>(std::min(width, 0xffff)),
                                static_cast<std::uint16_t>(std::min(height, 0xffff))});
        }
    };
    const std::int32_t right = window.x + window.width;
    const std::int32_t bottom = window.y + window.height;
    if (target.width <= 0 || target.height <= 0) {
        add(window.x, window.y, window.width, window.height);
    } else {
        add(window.x, window.y, window.width, target.y - window.y);  // above
        add(window.x, target.y + target.height, window.width, bottom - target.y - target.height);
        add(window.x, target.y, target.x - window.x, target.height);  // left
        add(target.x + target.width, target.y, right - target.x - target.width, target.height);
    }
    if (!rectangles.empty()) {
        xcb_render_fill_rectangles(
            connection_, XCB_RENDER_PICT_OP_SRC, windowPicture_, xcb_render_color_t{0, 0, 0, 0},
            static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
    }
}

bool SurfaceCompositor::draw(const SurfaceFrame& frame, Area target, Area window, double opacity) {
    if (!isUsable()) {
        return false;
    }
    const bool visible = target.width > 0 && target.height > 0 && opacity > 0 &&
                         frame.width() > 0 && frame.height() > 0;
    if (!visible || !useSource(frame.pixmap())) {
        clear(window);
        return false;
    }
    setScale(*frame.pixmap(), target);
    clearAround(target, window);
    xcb_render_composite(connection_, XCB_RENDER_PICT_OP_SRC, sourcePicture_, opacityMask(opacity),
                         windowPicture_, 0, 0, 0, 0, static_cast<std::int16_t>(target.x),
                         static_cast<std::int16_t>(target.y),
                         static_cast<std::uint16_t>(std::min(target.width, 0xffff)),
                         static_cast<std::uint16_t>(std::min(target.height, 0xffff)));
    xcb_flush(connection_);
    return true;
}

void SurfaceCompositor::clear(Area window) {
    if (!isUsable()) {
        return;
    }
    clearAround(Area{}, window);
    xcb_flush(connection_);
}

}  // namespace tovalo::x11
