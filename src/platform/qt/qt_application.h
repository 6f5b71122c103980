#pragma once

// This program as a desktop application on the Qt backend. The activation policy is only
// recorded: X11 has no dock or menu-bar presence to switch (the tray icon is shown either way).
// Activation raises and activates the front-most of its managed windows; becoming active (Qt
// reports the application state) is posted on the default centre. windows() lists the windows
// made by the window factory. The pointer comes from QCursor, flipped into screen coordinates;
// the buttons from the X server's pointer state (Qt only sees presses on its own windows).
// terminate() runs the termination steps once and then quits Qt's event loop. Main thread; owned by
// the composition root.

#include <QObject>
#include <functional>
#include <memory>

#include "base/notification_center.h"
#include "platform/application.h"
#include "platform/qt/qt_window_factory.h"
#include "platform/x11/x11_connection.h"

namespace tovalo::qt {

class QtApplication final : public QObject, public Application {
    Q_OBJECT

  public:
    // A QApplication must exist; `defaultCenter` may be null (then nothing is posted);
    // without `connection` the buttons are Qt's own view.
    QtApplication(std::shared_ptr<QtWindowFactory> windows,
                  std::shared_ptr<NotificationCenter> defaultCenter,
                  std::shared_ptr<x11::Connection> connection = nullptr);
    ~QtApplication() override;

    ActivationPolicy activationPolicy() const override { return policy_; }
    void setActivationPolicy(ActivationPolicy policy) override { policy_ = policy; }
    void activate(bool ignoringOtherApps) override;
    bool isActive() const override;
    std::vector<PlatformWindowRef> windows() const override;
    void terminate() override;
    Point mouseLocation() const override;
    std::uint32_t pressedMouseButtons() const override;

    // The termination steps (the application delegate's will-terminate), run by terminate().
    void setTerminationHandler(std::function<void()> handler);

    // Qt's button mask as the port's bit mask (bit 0 primary, 1 secondary, n button n).
    static std::uint32_t toButtonMask(Qt::MouseButtons buttons);
    // X's key-and-button state mask (Button1Mask...) as the port's bit mask.
    static std::uint32_t fromXButtonState(std::uint16_t xState);

  private:
    const std::shared_ptr<QtWindowFactory> windows_;
    const std::shared_ptr<NotificationCenter> defaultCenter_;
    const std::shared_ptr<x11::Connection> connection_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::function<void()> terminationHandler_;
    bool terminated_ = false;
};

}  // namespace tovalo::qt
