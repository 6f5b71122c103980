#include "platform/qt/qt_control_service.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QVariant>
#include <mutex>
#include <utility>
#include <vector>

#include "base/debug_log.h"

namespace tovalo::qt {
namespace {

const char* const kLogTag = "Control";

QString errorName(ControlErrorCode code) {
    const char* suffix = "UnknownWindow";
    switch (code) {
        case ControlErrorCode::unknownWindow:
            suffix = "UnknownWindow";
            break;
        case ControlErrorCode::notCapturable:
            suffix = "NotCapturable";
            break;
        case ControlErrorCode::notPinned:
            suffix = "NotPinned";
            break;
        case ControlErrorCode::contentUnavailable:
            suffix = "ContentUnavailable";
            break;
    }
    return QString::fromLatin1(ControlBus::errorPrefix) + QString::fromLatin1(suffix);
}

QDBusMessage errorReply(const QDBusMessage& call, const ControlError& error) {
    return call.createErrorReply(errorName(error.code), QString::fromStdString(error.message));
}

QList<uint> toWire(const std::vector<WindowID>& ids) {
    QList<uint> wire;
    wire.reserve(static_cast<qsizetype>(ids.size()));
    for (WindowID id : ids) {
        wire.append(id);
    }
    return wire;
}

}  // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const QtControlWindowRow& row) {
    argument.beginStructure();
    argument << row.windowID << row.appName << row.title << row.isPinned;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, QtControlWindowRow& row) {
    argument.beginStructure();
    argument >> row.windowID >> row.appName >> row.title >> row.isPinned;
    argument.endStructure();
    return argument;
}

void registerControlBusTypes() {
    static std::once_flag once;
    std::call_once(once, [] {
        qDBusRegisterMetaType<QtControlWindowRow>();
        qDBusRegisterMetaType<QList<QtControlWindowRow>>();
    });
}

QtControlService::QtControlService(std::shared_ptr<ControlCommands> commands,
                                   std::shared_ptr<AppDelegate> delegate,
                                   VisibleWindowsProbe hasVisibleWindows, QDBusConnection bus,
                                   QObject* parent)
    : QObject(parent),
      commands_(std::move(commands)),
      delegate_(std::move(delegate)),
      hasVisibleWindows_(std::move(hasVisibleWindows)),
      bus_(std::move(bus)) {
    registerControlBusTypes();
}

QtControlService::~QtControlService() {
    if (isRegistered_) {
        if (auto* interface = bus_.interface()) {
            interface->unregisterService(QString::fromLatin1(ControlBus::serviceName));
        }
        bus_.unregisterObject(QString::fromLatin1(ControlBus::objectPath));
    }
}

QtControlService::Registration QtControlService::registerOnBus() {
    if (isRegistered_) {
        return Registration::registered;
    }
    if (!bus_.isConnected()) {
        TOVALO_DEBUG_LOG(kLogTag, "no session bus: " + bus_.lastError().message().toStdString());
        return Registration::unavailable;
    }
    const QString path = QString::fromLatin1(ControlBus::objectPath);
    // The object first, so a call arriving right after the name is claimed finds it.
    if (!bus_.registerObject(path, this, QDBusConnection::ExportAllSlots)) {
        TOVALO_DEBUG_LOG(kLogTag, "the control object path is taken on this connection");
        return Registration::unavailable;
    }
    auto* interface = bus_.interface();
    if (!interface) {
        bus_.unregisterObject(path);
        return Registration::unavailable;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        interface->registerService(QString::fromLatin1(ControlBus::serviceName),
                                   QDBusConnectionInterface::DontQueueService,
                                   QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        bus_.unregisterObject(path);
        TOVALO_DEBUG_LOG(
            kLogTag, "claiming the control name failed: " + reply.error().message().toStdString());
        return Registration::unavailable;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        bus_.unregisterObject(path);
        return Registration::nameTaken;
    }
    isRegistered_ = true;
    return Registration::registered;
}

bool QtControlService::requestReopen(const QDBusConnection& bus, std::string* error) {
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(ControlBus::serviceName), QString::fromLatin1(ControlBus::objectPath),
        QString::fromLatin1(ControlBus::interfaceName), QStringLiteral("Reopen"));
    const QDBusMessage reply = bus.call(call, QDBus::Block);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (error) {
            *error = reply.errorMessage().toStdString();
        }
        return false;
    }
    return true;
}

QtControlService::PendingReply QtControlService::deferReply() {
    setDelayedReply(true);
    return PendingReply{connection(), message()};
}

QList<QtControlWindowRow> QtControlService::List() {
    commands_->list([pending = deferReply()](ControlResult<std::vector<ControlWindowRow>> result) {
        if (!result.ok()) {
            pending.bus.send(errorReply(pending.call, result.error()));
            return;
        }
        QList<QtControlWindowRow> rows;
        for (const auto& row : result.value()) {
            rows.append(QtControlWindowRow{row.windowID, QString::fromStdString(row.appName),
                                           QString::fromStdString(row.title), row.isPinned});
        }
        pending.bus.send(pending.call.createReply(QVariant::fromValue(rows)));
    });
    return {};
}

bool QtControlService::Pin(uint windowID) {
    commands_->pin(windowID,
                   [pending = deferReply()](ControlResult<ControlCommands::PinOutcome> result) {
                       if (!result.ok()) {
                           pending.bus.send(errorReply(pending.call, result.error()));
                           return;
                       }
                       const bool pinnedNow = result.value() == ControlCommands::PinOutcome::pinned;
                       pending.bus.send(pending.call.createReply(QVariant(pinnedNow)));
                   });
    return false;
}

void QtControlService::Unpin(uint windowID) {
    commands_->unpin(windowID, [pending = deferReply()](ControlResult<std::monostate> result) {
        if (!result.ok()) {
            pending.bus.send(errorReply(pending.call, result.error()));
            return;
        }
        pending.bus.send(pending.call.createReply());
    });
}

uint QtControlService::UnpinAll() {
    commands_->unpinAll([pending = deferReply()](std::vector<WindowID> unpinned) {
        pending.bus.send(pending.call.createReply(QVariant(static_cast<uint>(unpinned.size()))));
    });
    return 0;
}

QString QtControlService::Status(QList<uint>& pinnedWindowIDs) {
    pinnedWindowIDs.clear();
    commands_->status([pending = deferReply()](ControlStatus status) {
        pending.bus.send(pending.call.createReply(
            QList<QVariant>{QString::fromStdString(status.version),
                            QVariant::fromValue(toWire(status.pinnedWindowIDs))}));
    });
    return {};
}

void QtControlService::Reopen() {
    const bool visible = hasVisibleWindows_ && hasVisibleWindows_();
    if (delegate_) {
        delegate_->applicationShouldHandleReopen(visible);
    }
}

}  // namespace tovalo::qt
