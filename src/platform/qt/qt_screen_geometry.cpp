#include "platform/qt/qt_screen_geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace tovalo::qt {

namespace {

int toInt(double value) {
    return static_cast<int>(std::lround(value));
}

// One past the primary screen's last row: the line y = 0 of screen coordinates.
int bottomEdge(const QRect& primary) {
    return primary.y() + primary.height();
}

}  // namespace

QRect QtScreenGeometry::primaryScreenGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

QRect QtScreenGeometry::toQt(const Rect& screenRect, const QRect& primary) {
    const int width = toInt(screenRect.width());
    const int height = toInt(screenRect.height());
    const int top = bottomEdge(primary) - toInt(screenRect.maxY());
    return QRect(toInt(screenRect.minX()), top, width, height);
}

Rect QtScreenGeometry::fromQt(const QRect& qtRect, const QRect& primary) {
    const double bottom = static_cast<double>(bottomEdge(primary)) -
                          static_cast<double>(qtRect.y() + qtRect.height());
    return Rect(qtRect.x(), bottom, qtRect.width(), qtRect.height());
}

Point QtScreenGeometry::pointFromQt(const QPoint& qtPoint, const QRect& primary) {
    return Point{static_cast<double>(qtPoint.x()),
                 static_cast<double>(bottomEdge(primary) - qtPoint.y())};
}

}  // namespace tovalo::qt
