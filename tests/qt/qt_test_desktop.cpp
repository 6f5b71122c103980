#include "qt_test_desktop.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

namespace tovalo::qt::testing {

namespace {

struct Desktop {
    std::unique_ptr<tovalo::testing::XSession> session;
    std::string skipReason;
    std::unique_ptr<QApplication> application;
};

Desktop& desktop() {
    static Desktop instance;
    return instance;
}

class QtDesktopEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override {
        auto& d = desktop();
        d.session = tovalo::testing::XSession::start({}, &d.skipReason);
        if (d.session) {
            // Qt connects to the private server and keeps its files in the scratch folder.
            for (const auto& entry : d.session->environment()) {
                const auto equals = entry.find('=');
                const auto name = entry.substr(0, equals);
                if (name == "DISPLAY" || name.rfind("XDG_", 0) == 0 || name == "HOME") {
                    ::setenv(name.c_str(), entry.substr(equals + 1).c_str(), 1);
                }
            }
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        } else {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        static int argc = 1;
        static char name[] = "tovalo_qt_tests";
        static char* argv[] = {name, nullptr};
        d.application = std::make_unique<QApplication>(argc, argv);
    }

    void TearDown() override {
        auto& d = desktop();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        d.application.reset();
        d.session.reset();
    }
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtDesktopEnvironment);

}  // namespace

tovalo::testing::XSession* QtTestDesktop::session() {
    return desktop().session.get();
}

const std::string& QtTestDesktop::skipReason() {
    return desktop().skipReason;
}

bool QtTestDesktop::pumpUntil(const std::function<bool()>& predicate,
                              std::chrono::milliseconds timeout) {
    if (predicate()) {
        return true;
    }
    QEventLoop loop;
    bool timedOut = false;
    auto check = [&] {
        if (predicate()) {
            loop.quit();
        }
    };
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    guard.start(static_cast<int>(timeout.count()));
    // A fallback for changes nothing here is told about (properties of other windows).
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, check);
    recheck.start(50);
    std::unique_ptr<QSocketNotifier> rootChanges;
    if (auto* session = desktop().session.get()) {
        auto& connection = session->connection();
        rootChanges =
            std::make_unique<QSocketNotifier>(connection.fileDescriptor(), QSocketNotifier::Read);
        QObject::connect(rootChanges.get(), &QSocketNotifier::activated, &loop, [&] {
            while (x11::Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection.get())}) {
            }
            check();
        });
    }
    QTimer::singleShot(0, &loop, check);
    loop.exec();
    return !timedOut || predicate();
}

}  // namespace tovalo::qt::testing
