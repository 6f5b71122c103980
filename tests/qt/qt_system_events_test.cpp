#include "platform/qt/qt_system_events.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "fake_logind.h"
#include "platform/system_notifications.h"
#include "qt_test_desktop.h"

namespace tovalo::qt {
namespace {

using testing::FakeLogind;
using testing::QtTestDesktop;

const QString kSession = QStringLiteral("org.freedesktop.login1.Session");

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
        // By name, or the next test would be handed this test's connections to a bus now gone.
        QDBusConnection::disconnectFromBus(kEventsConnection);
        QDBusConnection::disconnectFromBus(kStrangerConnection);
        logind_.reset();
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

    // A fresh bus with a fake logind on it, and the connection the code under test uses for both
    // buses; a disconnected one when dbus-daemon cannot run here.
    QDBusConnection startBusWithLogind() {
        const QString address = startBus();
        if (address.isEmpty()) {
            return QDBusConnection(QString());
        }
        address_ = address;
        logind_ = std::make_unique<FakeLogind>(address);
        return QDBusConnection::connectToBus(address, kEventsConnection);
    }

    // Waits until `count` notifications came, then for one more that `send` causes: signals
    // sent earlier on the same connection arrived before it, so nothing else is still coming.
    void waitForAllAfter(size_t count, const std::function<void()>& send) {
        ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return posted_.size() >= count; }))
            << posted_.size() << " of " << count << " notifications came";
        send();
        ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return posted_.size() >= count + 1; }));
        posted_.pop_back();
    }

    static inline const QString kEventsConnection = QStringLiteral("tovalo-logind-events");
    static inline const QString kStrangerConnection = QStringLiteral("tovalo-stranger");

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
    // What the system events say in the debug log, for the whole test.
    std::vector<DebugLogLine> logged_;
    ScopedDebugLogSink logSink_{[this](const DebugLogLine& line) {
        if (line.tag == "SystemEvents") {
            logged_.push_back(line);
        }
    }};
    QProcess daemon_;
    QString address_;
    std::unique_ptr<FakeLogind> logind_;
};

TEST_F(QtSystemEventsTest, RunsOnWithoutBusesAndSaysSoOnce) {
    const auto& lines = logged_;
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

TEST_F(QtSystemEventsTest, FollowsTheLoginSessionOfThisProcess) {
    const auto& lines = logged_;
    auto bus = startBusWithLogind();
    if (!logind_) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    ASSERT_TRUE(logind_->isRunning());
    ASSERT_TRUE(bus.isConnected());
    {
        QtSystemEvents events({workspace_, distributed_}, bus, bus);
        EXPECT_EQ(events.sessionPath(), FakeLogind::kSessionPath);
        EXPECT_EQ(logind_->askedPid(), static_cast<quint32>(::getpid()));
        EXPECT_EQ(logind_->activeReads(), 1);
        // How the session is at start is no news.
        EXPECT_TRUE(posted_.empty());
    }
    EXPECT_TRUE(lines.empty());
}

TEST_F(QtSystemEventsTest, SessionLookupErrorIsLoggedOnceAndSleepIsStillFollowed) {
    const auto& lines = logged_;
    auto bus = startBusWithLogind();
    if (!logind_) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    ASSERT_TRUE(logind_->isRunning());
    logind_->setSessionLookupFails(true);
    {
        QtSystemEvents events({workspace_, distributed_}, bus, bus);
        EXPECT_TRUE(events.sessionPath().isEmpty());
        EXPECT_EQ(logind_->askedPid(), static_cast<quint32>(::getpid()));
        EXPECT_EQ(logind_->activeReads(), 0);

        logind_->sendLock();  // no session followed: not heard
        logind_->sendPrepareForSleep(true);
        ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return !posted_.empty(); }));
        EXPECT_EQ(posted_, (std::vector<std::string>{SystemNotification::willSleep}));
    }
#ifndef TOVALO_NO_DEBUG_LOG
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message, "unavailable");
    const auto source = std::find_if(lines[0].properties.begin(), lines[0].properties.end(),
                                     [](const auto& p) { return p.first == "source"; });
    ASSERT_NE(source, lines[0].properties.end());
    EXPECT_EQ(source->second.asString(), "logind session");
#endif
}

TEST_F(QtSystemEventsTest, IgnoresLogindSignalsFromOtherSenders) {
    auto bus = startBusWithLogind();
    if (!logind_) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    ASSERT_TRUE(logind_->isRunning());
    QtSystemEvents events({workspace_, distributed_}, bus, bus);
    ASSERT_EQ(events.sessionPath(), FakeLogind::kSessionPath);

    // Anyone may send on the system bus; only logind's name is to be believed.
    auto stranger = QDBusConnection::connectToBus(address_, kStrangerConnection);
    ASSERT_TRUE(stranger.isConnected());
    const auto strangerSends = [&](const QString& path, const QString& interface,
                                   const QString& name, const QVariantList& arguments) {
        auto signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        ASSERT_TRUE(stranger.send(signal));
    };
    strangerSends(QStringLiteral("/org/freedesktop/login1"),
                  QStringLiteral("org.freedesktop.login1.Manager"),
                  QStringLiteral("PrepareForSleep"), {true});
    strangerSends(FakeLogind::kSessionPath, kSession, QStringLiteral("Lock"), {});
    strangerSends(FakeLogind::kSessionPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                  QStringLiteral("PropertiesChanged"),
                  {kSession, QVariantMap{{QStringLiteral("Active"), false}}, QStringList{}});
    // A round trip through the bus: the stranger's signals were passed on before its answer,
    // so they come before the fake logind's marker.
    ASSERT_TRUE(stranger.interface()
                    ->isServiceRegistered(QStringLiteral("org.freedesktop.login1"))
                    .value());
    waitForAllAfter(0, [&] { logind_->sendLock(); });
    EXPECT_TRUE(posted_.empty());
}

// The signals a case sends, all from the fake logind's connection so that they arrive in order.
enum class Send {
    sleep,
    wake,
    lock,
    unlock,
    screenSaverOn,
    screenSaverOff,
    active,
    inactive,
    activeInvalidated,
    inactiveInvalidated,
    anotherInterfaceInactive,
};

struct SignalCase {
    const char* name;
    bool initiallyActive;
    bool activeReadable;
    std::vector<Send> sends;
    std::vector<std::string> expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class QtSystemEventsSignalTest : public QtSystemEventsTest,
                                 public ::testing::WithParamInterface<SignalCase> {
  protected:
    void send(Send what) {
        FakeLogind& logind = *logind_;
        switch (what) {
            case Send::sleep:
            case Send::wake:
                asleep_ = what == Send::sleep;
                logind.sendPrepareForSleep(*asleep_);
                break;
            case Send::lock:
                logind.sendLock();
                break;
            case Send::unlock:
                logind.sendUnlock();
                break;
            case Send::screenSaverOn:
            case Send::screenSaverOff:
                logind.send(QStringLiteral("/org/freedesktop/ScreenSaver"),
                            QStringLiteral("org.freedesktop.ScreenSaver"),
                            QStringLiteral("ActiveChanged"), {what == Send::screenSaverOn});
                break;
            case Send::active:
            case Send::inactive:
                logind.sendPropertiesChanged(
                    kSession, {{QStringLiteral("Active"), what == Send::active}}, {});
                break;
            case Send::activeInvalidated:
            case Send::inactiveInvalidated: {
                // The value is read back when the signal is handled: let that happen before the
                // next change.
                const int reads = logind.activeReads();
                logind.setActive(what == Send::activeInvalidated);
                logind.sendPropertiesChanged(kSession, {}, {QStringLiteral("Active")});
                ASSERT_TRUE(QtTestDesktop::pumpUntil([&] { return logind.activeReads() > reads; }));
                break;
            }
            case Send::anotherInterfaceInactive:
                logind.sendPropertiesChanged(QStringLiteral("org.freedesktop.login1.Seat"),
                                             {{QStringLiteral("Active"), false}}, {});
                break;
        }
    }

    // Sleep or wake, whichever is a change: always news.
    void sendMarker() { logind_->sendPrepareForSleep(!asleep_.value_or(false)); }

    std::optional<bool> asleep_;
};

TEST_P(QtSystemEventsSignalTest, PostsEachChangeOnce) {
    const SignalCase& c = GetParam();
    auto bus = startBusWithLogind();
    if (!logind_) {
        GTEST_SKIP() << "dbus-daemon cannot run here";
    }
    ASSERT_TRUE(logind_->isRunning());
    ASSERT_TRUE(bus.isConnected());
    logind_->setActive(c.initiallyActive);
    logind_->setActiveReadable(c.activeReadable);
    QtSystemEvents events({workspace_, distributed_}, bus, bus);
    ASSERT_EQ(events.sessionPath(), FakeLogind::kSessionPath);

    for (const Send what : c.sends) {
        send(what);
    }
    waitForAllAfter(c.expected.size(), [&] { sendMarker(); });
    EXPECT_EQ(posted_, c.expected);
}

namespace names = SystemNotification;

INSTANTIATE_TEST_SUITE_P(
    Logind, QtSystemEventsSignalTest,
    ::testing::Values(
        SignalCase{"SleepAndWake",
                   true,
                   true,
                   {Send::sleep, Send::sleep, Send::wake, Send::wake, Send::sleep},
                   {names::willSleep, names::didWake, names::willSleep}},
        // Unlocked when nothing was known is no news.
        SignalCase{"LockAndUnlock",
                   true,
                   true,
                   {Send::unlock, Send::lock, Send::lock, Send::unlock, Send::unlock},
                   {names::screenIsLocked, names::screenIsUnlocked}},
        SignalCase{"LockSharedWithTheScreenSaver",
                   true,
                   true,
                   {Send::lock, Send::screenSaverOn, Send::screenSaverOff, Send::unlock,
                    Send::screenSaverOn},
                   {names::screenIsLocked, names::screenIsUnlocked, names::screenIsLocked}},
        SignalCase{"ActiveChanges",
                   true,
                   true,
                   {Send::active, Send::inactive, Send::inactive, Send::active, Send::active},
                   {names::sessionDidResignActive, names::sessionDidBecomeActive}},
        // Started on a session that was switched away from.
        SignalCase{"StartedInactive",
                   false,
                   true,
                   {Send::inactive, Send::active},
                   {names::sessionDidBecomeActive}},
        SignalCase{"InvalidatedActiveIsReadBack",
                   true,
                   true,
                   {Send::inactiveInvalidated, Send::inactiveInvalidated, Send::activeInvalidated},
                   {names::sessionDidResignActive, names::sessionDidBecomeActive}},
        // A change still says how things are; a failed read back says nothing.
        SignalCase{"ActiveUnreadable",
                   true,
                   false,
                   {Send::inactive, Send::activeInvalidated, Send::active},
                   {names::sessionDidResignActive, names::sessionDidBecomeActive}},
        SignalCase{"ActiveOfAnotherInterfaceIsNotTheSessions",
                   true,
                   true,
                   {Send::anotherInterfaceInactive},
                   {}}),
    [](const ::testing::TestParamInfo<SignalCase>& param) {
        return std::string(param.param.name);
    });

}  // namespace
}  // namespace tovalo::qt
