#include "platform/qt/qt_system_events.h"

#include <unistd.h>

#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include "base/debug_log.h"
#include "platform/system_notifications.h"

namespace tovalo::qt {

namespace {

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kLogindSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");

void logUnavailable(const char* what, const QString& reason) {
    TOVALO_DEBUG_LOG("SystemEvents", "unavailable",
                     {{"source", std::string(what)}, {"reason", reason.toStdString()}});
}

}  // namespace

QtSystemEvents::QtSystemEvents(Centers centers)
    : QtSystemEvents(std::move(centers), QDBusConnection::systemBus(),
                     QDBusConnection::sessionBus()) {}

QtSystemEvents::QtSystemEvents(Centers centers, QDBusConnection systemBus,
                               QDBusConnection sessionBus)
    : centers_(std::move(centers)),
      systemBus_(std::move(systemBus)),
      sessionBus_(std::move(sessionBus)) {
    watchSystemBus();
    watchSessionBus();
}

QtSystemEvents::~QtSystemEvents() = default;

void QtSystemEvents::watchSystemBus() {
    if (!systemBus_.isConnected()) {
        logUnavailable("system bus", systemBus_.lastError().message());
        return;
    }
    systemBus_.connect(kLogindService, kLogindPath, kLogindManager,
                       QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));

    // This process's login session; none when logind is absent or we run outside a session.
    QDBusMessage call = QDBusMessage::createMethodCall(kLogindService, kLogindPath, kLogindManager,
                                                       QStringLiteral("GetSessionByPID"));
    call << static_cast<quint32>(::getpid());
    const QDBusReply<QDBusObjectPath> reply = systemBus_.call(call, QDBus::Block, 2000);
    if (!reply.isValid()) {
        logUnavailable("logind session", reply.error().message());
        return;
    }
    sessionPath_ = reply.value().path();
    systemBus_.connect(kLogindService, sessionPath_, kLogindSession, QStringLiteral("Lock"), this,
                       SLOT(sessionLocked()));
    systemBus_.connect(kLogindService, sessionPath_, kLogindSession, QStringLiteral("Unlock"), this,
                       SLOT(sessionUnlocked()));
    systemBus_.connect(kLogindService, sessionPath_, kProperties,
                       QStringLiteral("PropertiesChanged"), this,
                       SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
    sessionActive_ = readSessionActive();
}

void QtSystemEvents::watchSessionBus() {
    if (!sessionBus_.isConnected()) {
        logUnavailable("session bus", sessionBus_.lastError().message());
        return;
    }
    // Desktops publish the screen saver under either path; any owner may send it.
    for (const auto& path :
         {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
        sessionBus_.connect(QString(), path, kScreenSaver, QStringLiteral("ActiveChanged"), this,
                            SLOT(screenSaverActiveChanged(bool)));
    }
}

std::optional<bool> QtSystemEvents::readSessionActive() {
    QDBusMessage call = QDBusMessage::createMethodCall(kLogindService, sessionPath_, kProperties,
                                                       QStringLiteral("Get"));
    call << kLogindSession << QStringLiteral("Active");
    const QDBusReply<QDBusVariant> reply = systemBus_.call(call, QDBus::Block, 2000);
    if (!reply.isValid()) {
        return std::nullopt;
    }
    return reply.value().variant().toBool();
}

void QtSystemEvents::prepareForSleep(bool start) {
    // A repeated report is still the same sleep or wake: observers pair one with the other.
    if (asleep_ == start) {
        return;
    }
    asleep_ = start;
    if (centers_.workspace) {
        centers_.workspace->post(start ? SystemNotification::willSleep
                                       : SystemNotification::didWake);
    }
}

void QtSystemEvents::sessionLocked() {
    setLocked(true);
}

void QtSystemEvents::sessionUnlocked() {
    setLocked(false);
}

void QtSystemEvents::screenSaverActiveChanged(bool active) {
    setLocked(active);
}

void QtSystemEvents::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                              const QStringList& invalidated) {
    if (interface != kLogindSession) {
        return;
    }
    if (auto it = changed.find(QStringLiteral("Active")); it != changed.end()) {
        setSessionActive(it.value().toBool());
    } else if (invalidated.contains(QStringLiteral("Active"))) {
        if (const auto active = readSessionActive()) {
            setSessionActive(*active);
        }
    }
}

void QtSystemEvents::setLocked(bool locked) {
    if (locked_ == locked) {
        return;
    }
    // The first report only says how things are when nothing was known: unlocked is no news.
    const bool wasKnown = locked_.has_value();
    locked_ = locked;
    if (!wasKnown && !locked) {
        return;
    }
    if (centers_.distributed) {
        centers_.distributed->post(locked ? SystemNotification::screenIsLocked
                                          : SystemNotification::screenIsUnlocked);
    }
}

void QtSystemEvents::setSessionActive(bool active) {
    if (sessionActive_ == active) {
        return;
    }
    sessionActive_ = active;
    if (centers_.workspace) {
        centers_.workspace->post(active ? SystemNotification::sessionDidBecomeActive
                                        : SystemNotification::sessionDidResignActive);
    }
}

}  // namespace tovalo::qt
