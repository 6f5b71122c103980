#include "platform/qt/qt_desktop_appearance.h"

#include <QGuiApplication>
#include <QPalette>

namespace tovalo::qt {

DesktopAppearance::Match QtDesktopAppearance::bestMatch() const {
    if (QGuiApplication::instance() == nullptr) {
        return Match::none;
    }
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return window.lightness() < 128 ? Match::dark : Match::light;
}

}  // namespace tovalo::qt
