#pragma once

// A native child window that shows a QtVideoLayer's server-side frame by compositing the
// source's pixmap into itself with XRender (x11::SurfaceCompositor) over Qt's own X connection:
// the picture never passes through this process or Qt's backing store. Qt does not paint it;
// every expose and every new frame draws it again. Input passes to the parent. Made and shown
// by QtVideoView only while the layer holds such a frame and Qt runs on X11. Main thread.

#include <QWidget>
#include <memory>

#include "platform/qt/qt_video_layer.h"
#include "platform/x11/x11_surface_compositor.h"

namespace tovalo::qt {

class QtSurfaceView final : public QWidget {
    Q_OBJECT

  public:
    explicit QtSurfaceView(QWidget* parent);
    ~QtSurfaceView() override;

    // Qt's X connection; nullptr when Qt does not run on X11.
    static xcb_connection_t* x11Connection();

    void setLayer(std::shared_ptr<QtVideoLayer> layer) { layer_ = std::move(layer); }
    void setOpacity(double opacity) { opacity_ = opacity; }
    // Draws the layer's frame now (not waiting for Qt's next paint). False when this window
    // cannot be drawn into with XRender (no RENDER on the server, unknown format).
    bool redraw();

    QPaintEngine* paintEngine() const override { return nullptr; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

  private:
    xcb_connection_t* const connection_;
    std::shared_ptr<QtVideoLayer> layer_;
    std::unique_ptr<x11::SurfaceCompositor> compositor_;
    double opacity_ = 1.0;
};

}  // namespace tovalo::qt
