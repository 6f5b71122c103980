#pragma once

// System events from D-Bus turned into the notifications components observe:
// - logind's PrepareForSleep (system bus): willSleep / didWake on the workspace centre, on
//   changes only;
// - this login session's Lock / Unlock (logind) and org.freedesktop.ScreenSaver's ActiveChanged
//   (session bus): screenIsLocked / screenIsUnlocked on the distributed centre, each posted only
//   when the locked state changes, whichever source reports it;
// - the session's Active property: sessionDidResignActive / sessionDidBecomeActive on the
//   workspace centre, on changes only.
// A missing bus or service is logged once (debug log) and the program runs on without those
// events. The window overview has no equivalent on X11 and is never posted. Main thread; owned
// by the composition root.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <memory>
#include <optional>

#include "base/notification_center.h"

namespace tovalo::qt {

class QtSystemEvents final : public QObject {
    Q_OBJECT

  public:
    struct Centers {
        std::shared_ptr<NotificationCenter> workspace;
        std::shared_ptr<NotificationCenter> distributed;
    };

    // Over the machine's system bus and the user's session bus.
    explicit QtSystemEvents(Centers centers);
    // Over the given buses (tests use private ones); either may be disconnected.
    QtSystemEvents(Centers centers, QDBusConnection systemBus, QDBusConnection sessionBus);
    ~QtSystemEvents() override;

    // The logind session object followed; empty when none was found.
    const QString& sessionPath() const { return sessionPath_; }

  private Q_SLOTS:
    void prepareForSleep(bool start);
    void sessionLocked();
    void sessionUnlocked();
    void screenSaverActiveChanged(bool active);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);

  private:
    void watchSystemBus();
    void watchSessionBus();
    void setLocked(bool locked);
    void setSessionActive(bool active);
    std::optional<bool> readSessionActive();

    const Centers centers_;
    QDBusConnection systemBus_;
    QDBusConnection sessionBus_;
    QString sessionPath_;
    std::optional<bool> asleep_;
    std::optional<bool> locked_;
    std::optional<bool> sessionActive_;
};

}  // namespace tovalo::qt
