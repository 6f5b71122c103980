#include "platform/qt/qt_application.h"

#include <QCursor>
#include <QGuiApplication>

#include "platform/qt/qt_panel_widget.h"
#include "platform/qt/qt_screen_geometry.h"
#include "platform/system_notifications.h"

namespace tovalo::qt {

QtApplication::QtApplication(std::shared_ptr<QtWindowFactory> windows,
                             std::shared_ptr<NotificationCenter> defaultCenter,
                             std::shared_ptr<x11::Connection> connection)
    : windows_(std::move(windows)),
      defaultCenter_(std::move(defaultCenter)),
      connection_(std::move(connection)) {
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive && defaultCenter_) {
                    defaultCenter_->post(SystemNotification::applicationDidBecomeActive);
                }
            });
}

QtApplication::~QtApplication() = default;

void QtApplication::activate(bool /*ignoringOtherApps*/) {
    if (!windows_) {
        return;
    }
    // Panels never take the focus; the front-most other window does.
    for (const auto& window : windows_->openWindows()) {
        if (window->isVisible() && !window->isPanel() && window->widget()) {
            window->widget()->raise();
            window->widget()->activateWindow();
            return;
        }
    }
}

bool QtApplication::isActive() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

std::vector<PlatformWindowRef> QtApplication::windows() const {
    std::vector<PlatformWindowRef> result;
    if (windows_) {
        for (auto& window : windows_->openWindows()) {
            result.push_back(std::move(window));
        }
    }
    return result;
}

void QtApplication::terminate() {
    if (std::exchange(terminated_, true)) {
        return;
    }
    if (terminationHandler_) {
        auto handler = terminationHandler_;
        handler();
    }
    QCoreApplication::quit();
}

void QtApplication::setTerminationHandler(std::function<void()> handler) {
    terminationHandler_ = std::move(handler);
}

Point QtApplication::mouseLocation() const {
    return QtScreenGeometry::pointFromQt(QCursor::pos(), QtScreenGeometry::primaryScreenGeometry());
}

std::uint32_t QtApplication::pressedMouseButtons() const {
    if (connection_ && !connection_->hasFailed()) {
        auto* c = connection_->get();
        const x11::Reply<xcb_query_pointer_reply_t> reply{
            xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_->root()), nullptr)};
        if (reply) {
            return fromXButtonState(reply->mask);
        }
    }
    return toButtonMask(QGuiApplication::mouseButtons());
}

std::uint32_t QtApplication::fromXButtonState(std::uint16_t xState) {
    // Button1Mask is bit 8; X numbers the buttons left, middle, right.
    std::uint32_t mask = 0;
    if (xState & XCB_BUTTON_MASK_1) {
        mask |= 1u << 0;
    }
    if (xState & XCB_BUTTON_MASK_3) {
        mask |= 1u << 1;
    }
    if (xState & XCB_BUTTON_MASK_2) {
        mask |= 1u << 2;
    }
    // Buttons 4 and 5 are the wheel: never held.
    return mask;
}

std::uint32_t QtApplication::toButtonMask(Qt::MouseButtons buttons) {
    std::uint32_t mask = 0;
    if (buttons & Qt::LeftButton) {
        mask |= 1u << 0;
    }
    if (buttons & Qt::RightButton) {
        mask |= 1u << 1;
    }
    if (buttons & Qt::MiddleButton) {
        mask |= 1u << 2;
    }
    if (buttons & Qt::BackButton) {
        mask |= 1u << 3;
    }
    if (buttons & Qt::ForwardButton) {
        mask |= 1u << 4;
    }
    return mask;
}

}  // namespace tovalo::qt
