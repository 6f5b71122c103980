#pragma once

// The control interface on the session D-Bus: the name "com.tovalohq.Tovalo" with one object
// whose methods (List, Pin, Unpin, UnpinAll, Status, Reopen) forward to ControlCommands, and
// the single-instance rule built on that name: the first launch owns it, a later launch finds it
// taken and asks the owner to reopen. Replies to the window commands are sent when the commands
// complete on the main queue, so a slow content refresh never blocks the event loop. Built and
// owned by the program's main on the Qt thread; it gives the name up when destroyed.
//
//   QtControlService service(commands, root.appDelegate(), hasVisibleWindows,
//                            QDBusConnection::sessionBus());
//   if (service.registerOnBus() == QtControlService::Registration::nameTaken) {
//       QtControlService::requestReopen(QDBusConnection::sessionBus());
//       return 0;  // before the delegate's launch steps, so this launch starts nothing
//   }

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/app_delegate.h"
#include "app/control_commands.h"

namespace tovalo::qt {

// The wire names of the control interface, shared by the service and `tovalo ctl`.
namespace ControlBus {
inline constexpr const char* serviceName = "com.tovalohq.Tovalo";
inline constexpr const char* objectPath = "/com/tovalohq/Tovalo";
inline constexpr const char* interfaceName = "com.tovalohq.Tovalo";
// Error names: this prefix followed by UnknownWindow, NotCapturable, NotPinned or
// ContentUnavailable.
inline constexpr const char* errorPrefix = "com.tovalohq.Tovalo.Error.";
}  // namespace ControlBus

// One row of List on the wire: (u window id, s app, s title, b pinned).
struct QtControlWindowRow {
    uint windowID = 0;
    QString appName;
    QString title;
    bool isPinned = false;
};

QDBusArgument& operator<<(QDBusArgument& argument, const QtControlWindowRow& row);
const QDBusArgument& operator>>(const QDBusArgument& argument, QtControlWindowRow& row);

// Registers the wire types with Qt's D-Bus type system; idempotent, any thread.
void registerControlBusTypes();

class QtControlService final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tovalohq.Tovalo")

  public:
    enum class Registration {
        // This process now serves the control interface.
        registered,
        // Another instance owns the name: this launch should ask it to reopen and exit.
        nameTaken,
        // No usable bus; the program runs on without a control interface.
        unavailable,
    };

    // Tells Reopen whether any of the program's windows is visible.
    using VisibleWindowsProbe = std::function<bool()>;

    // `bus` is the connection to serve on (normally the session bus).
    QtControlService(std::shared_ptr<ControlCommands> commands,
                     std::shared_ptr<AppDelegate> delegate, VisibleWindowsProbe hasVisibleWindows,
                     QDBusConnection bus, QObject* parent = nullptr);
    ~QtControlService() override;
    QtControlService(const QtControlService&) = delete;
    QtControlService& operator=(const QtControlService&) = delete;

    // Exports the object, then claims the name without queueing for it. Blocks for one round
    // trip to the bus. On anything but `registered` nothing stays exported.
    Registration registerOnBus();

    // For a second launch: asks the instance owning the name to reopen. Blocks until it answers;
    // false (with the reason in `error` when given) when it did not.
    static bool requestReopen(const QDBusConnection& bus, std::string* error = nullptr);

  public slots:
    // The replies below are sent later; the declared results describe them for introspection.
    QList<QtControlWindowRow> List();
    // True when pinned now, false when it was pinned already.
    bool Pin(uint windowID);
    void Unpin(uint windowID);
    // How many windows were unpinned.
    uint UnpinAll();
    // The version; `pinnedWindowIDs` the pinned windows in ascending order.
    QString Status(QList<uint>& pinnedWindowIDs);
    // The program was launched again: show the main window when nothing is visible.
    void Reopen();

  private:
    // Defers the reply of the current call and returns what sending it later needs.
    struct PendingReply {
        QDBusConnection bus;
        QDBusMessage call;
    };
    PendingReply deferReply();

    std::shared_ptr<ControlCommands> commands_;
    std::shared_ptr<AppDelegate> delegate_;
    VisibleWindowsProbe hasVisibleWindows_;
    QDBusConnection bus_;
    bool isRegistered_ = false;
};

}  // namespace tovalo::qt

Q_DECLARE_METATYPE(tovalo::qt::QtControlWindowRow)
