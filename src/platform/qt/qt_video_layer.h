#pragma once

// The video layer of the Qt backend: keeps the latest valid frame, wrapped without copying in a
// QImage over the frame's own pixels (BGRX rows read as RGB32, alpha ignored), and paints it
// scaled to fit with its aspect kept, centred, over a clear background. A frame that stays on
// the X server (x11::SurfaceFrame) is kept as it is, for a view that composites it there; its
// pixels are only read if someone paints it here. The frame stays referenced while it is shown.
// Widgets that show it (QtVideoView, a panel) observe its changes to repaint. Made by
// QtVideoLayerFactory and owned by the stream controller. Main thread only.

#include <QImage>
#include <QRectF>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "base/subscription.h"
#include "capture/video_layer.h"
#include "platform/x11/x11_surface_frame.h"

class QPainter;

namespace tovalo::qt {

class QtVideoLayer final : public VideoLayer, public std::enable_shared_from_this<QtVideoLayer> {
  public:
    QtVideoLayer() = default;

    // An invalid or malformed frame (no pixels, rows shorter than the width) is ignored and
    // the previous picture stays.
    void enqueue(const VideoFrameRef& frame) override;
    void flushAndRemoveImage() override;

    const VideoFrameRef& shownFrame() const { return frame_; }
    bool hasImage() const { return frame_ != nullptr; }
    // The shown frame when it stays on the X server; nullptr otherwise.
    const x11::SurfaceFrame* surfaceFrame() const { return surface_; }

    // Where the picture lands inside `bounds`: the largest rectangle of the frame's aspect that
    // fits, centred. Empty without a picture.
    QRectF imageRect(const QRectF& bounds) const;
    // Draws the picture into `bounds` at `opacity`; draws nothing without one.
    void paint(QPainter& painter, const QRectF& bounds, double opacity = 1.0) const;

    // Runs `observer` after every change of the picture.
    [[nodiscard]] Subscription observeChanges(std::function<void()> observer);

  private:
    void changed();

    VideoFrameRef frame_;
    const x11::SurfaceFrame* surface_ = nullptr;  // frame_, when it is one
    mutable QImage image_;  // over frame_'s pixels; for a surface frame made when first painted
    std::map<std::uint64_t, std::function<void()>> observers_;
    std::uint64_t nextObserverID_ = 1;
};

class QtVideoLayerFactory final : public VideoLayerFactory {
  public:
    std::shared_ptr<VideoLayer> makeVideoLayer() override;
};

}  // namespace tovalo::qt
