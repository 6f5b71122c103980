#include "platform/qt/qt_system_events.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <memory>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "platform/system_notifications.h"
#include "qt_test_desktop.h"

namespace tovalo::qt {
namespace {

using testing::QtTestDesktop;

// A private message bus of the test's own (dbus-daemon), ended with the fixture.
class QtSystemEventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        observe(workspace_, SystemNotification::willSleep);
        observe(workspace_, SystemNotification::didWake);
        observe(workspace_, SystemNotification::sessionDidBecomeActive);
        observe(workspace_, SystemNotification::sessionDidResignActive);
        observe(distributed_, SystemNotification::screenIsLocked);
        observe(distributed_, SystemNotification::screenIsUnlocked);
    }

    void TearDown() override {
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(5000);
        }
    }

    // The address of a fresh bus; empty when dbus-daemon cannot run here.
    QString startBus() {
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address")});
        if (!daemon_.waitForStarted(5000)) {
            return QString();
        }
        QByteArray line;
        while (!line.contains('\n') && daemon_.waitForReadyRead(5000)) {
            line += daemon_.readAllStandardOutput();
        }
        return QString::fromUtf8(line).trimmed();
    }

    void observe(const std::shared_ptr<NotificationCenter>& center, const char* name) {
        tokens_.push_back(center->addObserver(
            name, [this](const Notification& n) { posted_.push_back(n.name); }));
    }

    static QDBusConnection missingBus(const QString& name) {
        return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/tovalo-bus"),
                                             name);
    }

    std::shared_ptr<NotificationCenter> workspace_ = std::make_shared<NotificationCenter>("ws");
    std::shared_ptr<NotificationCenter> distributed_ = std::make_shared<NotificationCenter>("dist");
    std::vector<ObserverToken> tokens_;
    std::vector<std::string> posted_;
    QProcess daemon_;
};

TEST_F(QtSystemEventsTest, RunsOnWithoutBusesAndSaysSoOnce) {
    std::vector<DebugLogLine> lines;
    ScopedDebugLogSink sink([&](const DebugLogLine& line) {
        if (line.tag == "SystemEvents") {
            lines.push_back(line);
        }
    });
    QtSystemEvents events({workspace_, distributed_}, missingBus(QStringLiteral("missing-system")),
                          missingBus(QStringLiteral("missing-session")));
    EXPECT_TRUE(events.sessionPath().isEmpty());
    EXPECT_TRUE(posted_.empty());
#ifndef TOVALO_NO_DEBUG_LOG
    EXPECT_EQ(lines.size(), 2u);
#endif
}

TEST_F(QtSystemEventsTest, PostsScreenLockChangesFromTheScreenSaverOncePerChange) {
    const QString address = startBus();
    if (address.isEmpty()) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    // The same bus stands in for the system bus, where no logind answers.
    auto bus = QDBusConnection::connectToBus(address, QStringLiteral("tovalo-events"));
    ASSERT_TRUE(bus.isConnected());
    QtSystemEvents events({workspace_, distributed_}, bus, bus);
    EXPECT_TRUE(events.sessionPath().isEmpty());

    auto sender = QDBusConnection::connectToBus(address, QStringLiteral("tovalo-sender"));
    ASSERT_TRUE(sender.isConnected());
    const auto screenSaver = [&](bool active) {
        auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                 QStringLiteral("org.freedesktop.ScreenSaver"),
                                                 QStringLiteral("ActiveChanged"));
        signal << active;
        ASSERT_TRUE(sender.send(signal));
    };
    screenSaver(false);  // unlocked when nothing was known: no news
    screenSaver(true);
    screenSaver(true);
    screenSaver(false);
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return posted_.size() >= 2; }));
    // A marker after the others: once it arrived, every earlier signal did too.
    screenSaver(true);
    ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return posted_.size() >= 3; }));
    EXPECT_EQ(posted_, (std::vector<std::string>{SystemNotification::screenIsLocked,
                                                 SystemNotification::screenIsUnlocked,
                                                 SystemNotification::screenIsLocked}));
    QDBusConnection::disconnectFromBus(QStringLiteral("tovalo-sender"));
    QDBusConnection::disconnectFromBus(QStringLiteral("tovalo-events"));
}

}  // namespace
}  // namespace tovalo::qt
