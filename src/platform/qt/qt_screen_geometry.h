#pragma once

// The border between Qt's desktop coordinates (top-left origin, y down, device-independent
// pixels) and the ports' screen coordinates (bottom-left origin of the primary screen, y up,
// points). x, width and height stay; y is flipped against the primary screen's bottom edge,
// whichever screen the rectangle is on. Stateless.

#include <QPoint>
#include <QRect>

#include "base/geometry.h"

namespace tovalo::qt {

class QtScreenGeometry {
  public:
    // The primary screen's geometry as Qt reports it now; empty without a screen.
    static QRect primaryScreenGeometry();

    static QRect toQt(const Rect& screenRect, const QRect& primary);
    static Rect fromQt(const QRect& qtRect, const QRect& primary);
    static Point pointFromQt(const QPoint& qtPoint, const QRect& primary);

    // Against the current primary screen.
    static QRect toQt(const Rect& screenRect) { return toQt(screenRect, primaryScreenGeometry()); }
    static Rect fromQt(const QRect& qtRect) { return fromQt(qtRect, primaryScreenGeometry()); }
};

}  // namespace tovalo::qt
