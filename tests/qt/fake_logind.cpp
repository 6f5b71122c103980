#include "fake_logind.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <mutex>

namespace tovalo::qt::testing {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

const QString FakeLogind::kSessionPath = QStringLiteral("/org/freedesktop/login1/session/_31");

// Written by the test's thread, read by the thread that answers calls.
struct FakeLogind::State {
    mutable std::mutex mutex;
    bool sessionLookupFails = false;
    bool active = true;
    bool activeReadable = true;
    quint32 askedPid = 0;
    int activeReads = 0;
};

// Answers the calls under /org/freedesktop/login1; anything else gets the bus's usual error.
class FakeLogind::Handler final : public QDBusVirtualObject {
  public:
    explicit Handler(std::shared_ptr<State> state) : state_(std::move(state)) {}

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage) {
            return false;
        }
        const auto args = message.arguments();
        if (message.path() == kManagerPath && message.interface() == kManager &&
            message.member() == QLatin1String("GetSessionByPID") && args.size() == 1) {
            std::lock_guard lock(state_->mutex);
            state_->askedPid = args.at(0).toUInt();
            connection.send(
                state_->sessionLookupFails
                    ? message.createErrorReply(
                          QStringLiteral("org.freedesktop.login1.NoSessionForPID"),
                          QStringLiteral("PID does not belong to any known session"))
                    : message.createReply(QVariant::fromValue(QDBusObjectPath(kSessionPath))));
            return true;
        }
        if (message.path() == kSessionPath && message.interface() == kProperties &&
            message.member() == QLatin1String("Get") && args.size() == 2 &&
            args.at(0).toString() == kSession && args.at(1).toString() == QLatin1String("Active")) {
            std::lock_guard lock(state_->mutex);
            ++state_->activeReads;
            connection.send(
                state_->activeReadable
                    ? message.createReply(QVariant::fromValue(QDBusVariant(state_->active)))
                    : message.createErrorReply(QDBusError::AccessDenied,
                                               QStringLiteral("not allowed")));
            return true;
        }
        return false;
    }

  private:
    const std::shared_ptr<State> state_;
};

FakeLogind::FakeLogind(const QString& address)
    : connectionName_(QStringLiteral("tovalo-fake-logind")),
      connection_(QDBusConnection::connectToBus(address, connectionName_)),
      state_(std::make_shared<State>()),
      handler_(std::make_unique<Handler>(state_)) {
    // Registered before it moves: what Qt attaches to it then moves along with it.
    const bool registered =
        connection_.isConnected() &&
        connection_.registerVirtualObject(kManagerPath, handler_.get(), QDBusConnection::SubPath);
    handler_->moveToThread(&thread_);
    thread_.start();
    running_ = registered && connection_.registerService(kService);
}

FakeLogind::~FakeLogind() {
    if (connection_.isConnected()) {
        connection_.unregisterService(kService);
        connection_.unregisterObject(kManagerPath, QDBusConnection::UnregisterTree);
    }
    connection_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(connectionName_);
    thread_.quit();
    thread_.wait();
    handler_.reset();
}

void FakeLogind::setSessionLookupFails(bool fails) {
    std::lock_guard lock(state_->mutex);
    state_->sessionLookupFails = fails;
}

void FakeLogind::setActive(bool active) {
    std::lock_guard lock(state_->mutex);
    state_->active = active;
}

void FakeLogind::setActiveReadable(bool readable) {
    std::lock_guard lock(state_->mutex);
    state_->activeReadable = readable;
}

quint32 FakeLogind::askedPid() const {
    std::lock_guard lock(state_->mutex);
    return state_->askedPid;
}

int FakeLogind::activeReads() const {
    std::lock_guard lock(state_->mutex);
    return state_->activeReads;
}

void FakeLogind::sendPrepareForSleep(bool start) {
    send(kManagerPath, kManager, QStringLiteral("PrepareForSleep"), {start});
}

void FakeLogind::sendLock() {
    send(kSessionPath, kSession, QStringLiteral("Lock"));
}

void FakeLogind::sendUnlock() {
    send(kSessionPath, kSession, QStringLiteral("Unlock"));
}

void FakeLogind::sendPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                       const QStringList& invalidated) {
    send(kSessionPath, kProperties, QStringLiteral("PropertiesChanged"),
         {interface, changed, invalidated});
}

void FakeLogind::send(const QString& path, const QString& interface, const QString& name,
                      const QVariantList& arguments) {
    auto signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    connection_.send(signal);
}

}  // namespace tovalo::qt::testing
