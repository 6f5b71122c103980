#pragma once

// A widget that shows a QtVideoLayer: the latest frame scaled to fit with its aspect kept over
// a clear background (the widget fills nothing itself), repainted whenever the layer changes,
// at the opacity it is given. Frames that stay on the X server are composited there by a
// QtSurfaceView child covering the widget; other frames are painted here with QPainter. The
// overlay panel places one over its whole area. Main thread; owned by its parent widget,
// sharing the layer with the stream controller.

#include <QWidget>
#include <memory>

#include "base/subscription.h"
#include "platform/qt/qt_video_layer.h"

namespace tovalo::qt {
class QtSurfaceView;
}

namespace tovalo::qt {

class QtVideoView final : public QWidget {
    Q_OBJECT

  public:
    explicit QtVideoView(QWidget* parent = nullptr);

    // Shows `layer` from now on (null: nothing).
    void setLayer(std::shared_ptr<QtVideoLayer> layer);
    const std::shared_ptr<QtVideoLayer>& layer() const { return layer_; }
    void setOpacity(double opacity);
    double opacity() const { return opacity_; }

    // True while the picture is composited by the server-side child.
    bool drawsOnServer() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void layerChanged();

    std::shared_ptr<QtVideoLayer> layer_;
    QtSurfaceView* surfaceView_ = nullptr;
    bool serverDrawingFailed_ = false;
    Subscription layerChanges_;
    double opacity_ = 1.0;
};

}  // namespace tovalo::qt
