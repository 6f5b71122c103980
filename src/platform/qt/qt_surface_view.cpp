#include "platform/qt/qt_surface_view.h"

#include <QEvent>
#include <QGuiApplication>
#include <cmath>

namespace tovalo::qt {

QtSurfaceView::QtSurfaceView(QWidget* parent) : QWidget(parent), connection_(x11Connection()) {
    // Only this window needs to be native; its ancestors stay drawn by Qt.
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

QtSurfaceView::~QtSurfaceView() = default;

xcb_connection_t* QtSurfaceView::x11Connection() {
    auto* application =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return application ? application->connection() : nullptr;
}

bool QtSurfaceView::event(QEvent* event) {
    if (event->type() == QEvent::WinIdChange) {
        // The pictures belong to the old window.
        compositor_.reset();
    }
    return QWidget::event(event);
}

void QtSurfaceView::paintEvent(QPaintEvent* /*event*/) {
    redraw();
}

bool QtSurfaceView::redraw() {
    xcb_connection_t* connection = connection_;
    if (!connection) {
        return false;
    }
    if (!isVisible()) {
        return true;
    }
    const auto window = static_cast<xcb_window_t>(winId());
    if (!compositor_ || compositor_->window() != window) {
        compositor_ = std::make_unique<x11::SurfaceCompositor>(connection, window);
    }
    if (!compositor_->isUsable()) {
        return false;
    }
    // The window's own pixels, which differ from Qt's units on scaled screens.
    const double ratio = devicePixelRatioF();
    const auto pixels = [ratio](double value) {
        return static_cast<std::int32_t>(std::lround(value * ratio));
    };
    const x11::SurfaceCompositor::Area whole{0, 0, pixels(width()), pixels(height())};
    const x11::SurfaceFrame* frame = layer_ ? layer_->surfaceFrame() : nullptr;
    if (!frame) {
        compositor_->clear(whole);
        return true;
    }
    const QRectF target = layer_->imageRect(QRectF(rect()));
    const std::int32_t left = pixels(target.left());
    const std::int32_t top = pixels(target.top());
    compositor_->draw(*frame,
                      x11::SurfaceCompositor::Area{left, top, pixels(target.right()) - left,
                                                   pixels(target.bottom()) - top},
                      whole, opacity_);
    return true;
}

}  // namespace tovalo::qt
