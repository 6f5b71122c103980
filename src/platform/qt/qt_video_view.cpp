#include "platform/qt/qt_video_view.h"

#include <QPainter>

#include "platform/qt/qt_surface_view.h"

namespace tovalo::qt {

QtVideoView::QtVideoView(QWidget* parent) : QWidget(parent) {
    // Clear background: whatever lies behind shows around the picture.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

void QtVideoView::setLayer(std::shared_ptr<QtVideoLayer> layer) {
    layerChanges_.reset();
    layer_ = std::move(layer);
    if (surfaceView_) {
        surfaceView_->setLayer(layer_);
    }
    if (layer_) {
        layerChanges_ = layer_->observeChanges([this] { layerChanged(); });
    }
    layerChanged();
}

void QtVideoView::setOpacity(double opacity) {
    if (opacity != opacity_) {
        opacity_ = opacity;
        if (surfaceView_) {
            surfaceView_->setOpacity(opacity);
        }
        layerChanged();
    }
}

bool QtVideoView::drawsOnServer() const {
    return surfaceView_ && surfaceView_->isVisible();
}

void QtVideoView::layerChanged() {
    const bool onServer = !serverDrawingFailed_ && layer_ && layer_->surfaceFrame() &&
                          (surfaceView_ || QtSurfaceView::x11Connection() != nullptr);
    if (onServer) {
        if (!surfaceView_) {
            surfaceView_ = new QtSurfaceView(this);
            surfaceView_->setLayer(layer_);
            surfaceView_->setOpacity(opacity_);
            surfaceView_->setGeometry(rect());
        }
        if (!surfaceView_->isVisible()) {
            surfaceView_->show();
            update();  // the picture this widget painted is now under the child
        }
        // A new frame is drawn at once: Qt's paint cycle would add nothing but a delay.
        if (surfaceView_->redraw()) {
            return;
        }
        // This server cannot composite: the pixels are read and painted here from now on.
        serverDrawingFailed_ = true;
    }
    if (surfaceView_ && surfaceView_->isVisible()) {
        surfaceView_->hide();
    }
    update();
}

void QtVideoView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (surfaceView_) {
        surfaceView_->setGeometry(rect());
    }
}

void QtVideoView::paintEvent(QPaintEvent* /*event*/) {
    if (!layer_ || drawsOnServer()) {
        return;
    }
    QPainter painter(this);
    layer_->paint(painter, QRectF(rect()), opacity_);
}

}  // namespace tovalo::qt
