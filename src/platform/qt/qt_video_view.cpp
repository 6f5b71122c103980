#include "platform/qt/qt_video_view.h"

#include <QPainter>

namespace tovalo::qt {

QtVideoView::QtVideoView(QWidget* parent) : QWidget(parent) {
    // Clear background: whatever lies behind shows around the picture.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

void QtVideoView::setLayer(std::shared_ptr<QtVideoLayer> layer) {
    layerChanges_.reset();
    layer_ = std::move(layer);
    if (layer_) {
        layerChanges_ = layer_->observeChanges([this] { update(); });
    }
    update();
}

void QtVideoView::setOpacity(double opacity) {
    if (opacity != opacity_) {
        opacity_ = opacity;
        update();
    }
}

void QtVideoView::paintEvent(QPaintEvent* /*event*/) {
    if (!layer_) {
        return;
    }
    QPainter painter(this);
    layer_->paint(painter, QRectF(rect()), opacity_);
}

}  // namespace tovalo::qt
