#include "platform/qt/qt_panel_widget.h"

#include <QCloseEvent>
#include <QEnterEvent>
#include <QMouseEvent>

#include "platform/qt/qt_video_view.h"

namespace tovalo::qt {

QtPanelWidget::QtPanelWidget(Qt::WindowFlags flags) : QWidget(nullptr, flags) {}

void QtPanelWidget::setCloseRequestHandler(std::function<void()> handler) {
    closeRequestHandler_ = std::move(handler);
}

void QtPanelWidget::setVideoLayer(std::shared_ptr<QtVideoLayer> layer) {
    if (!videoView_) {
        videoView_ = new QtVideoView(this);
        videoView_->setGeometry(rect());
        videoView_->show();
    }
    videoView_->setLayer(std::move(layer));
}

void QtPanelWidget::setVideoOpacity(double opacity) {
    if (videoView_) {
        videoView_->setOpacity(opacity);
    }
}

void QtPanelWidget::closeEvent(QCloseEvent* event) {
    // The panel owns this widget and closes it itself, so the close observers run first.
    event->ignore();
    if (closeRequestHandler_) {
        auto handler = closeRequestHandler_;
        handler();
    }
}

void QtPanelWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (videoView_) {
        videoView_->setGeometry(rect());
    }
}

void QtPanelWidget::setPointerHandlers(std::function<void(bool)> hover,
                                       std::function<void()> press) {
    hoverHandler_ = std::move(hover);
    pressHandler_ = std::move(press);
}

void QtPanelWidget::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    if (hoverHandler_) {
        auto handler = hoverHandler_;
        handler(true);
    }
}

void QtPanelWidget::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    if (hoverHandler_) {
        auto handler = hoverHandler_;
        handler(false);
    }
}

void QtPanelWidget::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    if (pressHandler_) {
        auto handler = pressHandler_;
        handler();
    }
}

}  // namespace tovalo::qt
