// The control interface end to end over D-Bus: the service serves the simulated desktop's program
// graph on a private bus daemon started by the test (its own scratch configuration, torn down by
// pid), and `tovalo ctl` (runCtl) drives it from another thread, as a second process would:
// list, pin, unpin, unpin-all, status, the failures a script sees, the usage errors, no running
// instance, and a second launch asking the first to reopen.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QEventLoop>
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "app/control_commands.h"
#include "platform/qt/ctl_client.h"
#include "platform/qt/qt_control_service.h"
#include "platform/sim/sim_running_application.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tovalo::qt {
namespace {

// A session bus of the test's own: dbus-daemon on a socket in a scratch folder, allowing
// everything, stopped by its pid.
class PrivateBus {
  public:
    // Null with `skipReason` when no daemon can be started here.
    static std::unique_ptr<PrivateBus> start(std::string* skipReason) {
        auto bus = std::unique_ptr<PrivateBus>(new PrivateBus());
        const auto config = bus->scratch_.path() / "bus.conf";
        std::ofstream(config)
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>session</type>\n"
               "  <listen>unix:path="
            << (bus->scratch_.path() / "bus").string()
            << "</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
               "    <allow eavesdrop=\"true\"/>\n"
               "    <allow own=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n";

        int addressPipe[2];
        if (::pipe2(addressPipe, O_CLOEXEC) != 0) {
            *skipReason = "pipe failed";
            return nullptr;
        }
        // The daemon prints its address on fd 3 once it accepts connections.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, addressPipe[1], 3);
        // Its complaints about fd limits in containers are noise; a failed start shows as no
        // address.
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::string configArg = "--config-file=" + config.string();
        std::vector<std::string> argv = {"dbus-daemon", configArg, "--nofork", "--print-address=3"};
        std::vector<char*> cargv;
        for (auto& arg : argv) {
            cargv.push_back(arg.data());
        }
        cargv.push_back(nullptr);
        const int spawned =
            ::posix_spawnp(&bus->pid_, "dbus-daemon", &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(addressPipe[1]);
        if (spawned != 0) {
            ::close(addressPipe[0]);
            bus->pid_ = -1;
            *skipReason = "dbus-daemon cannot be started here";
            return nullptr;
        }
        std::string address;
        char c = 0;
        while (::read(addressPipe[0], &c, 1) == 1 && c != '\n') {
            address.push_back(c);
        }
        ::close(addressPipe[0]);
        if (address.empty()) {
            *skipReason = "dbus-daemon printed no address";
            return nullptr;
        }
        bus->address_ = QString::fromStdString(address);
        return bus;
    }

    ~PrivateBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // A new connection of its own, as another process would have.
    QDBusConnection connect(const QString& name) const {
        return QDBusConnection::connectToBus(address_, name);
    }

  private:
    PrivateBus() = default;

    test_support::TempDir scratch_{"tovalo-bus"};
    pid_t pid_ = -1;
    QString address_;
};

struct CtlRun {
    int code = -1;
    std::string out;
    std::string err;
};

// Runs `work` on another thread while this (the Qt) thread keeps its event loop running, as the
// program's own thread does while a client elsewhere waits for its answer.
void offTheQtThread(const std::function<void()>& work) {
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

TEST(CtlCommandLineTest, BadCommandLinesPrintTheUsageAndExitTwoWithoutCallingAnything) {
    // Not connected: a command that got as far as calling would exit 3 instead.
    const QDBusConnection noBus(QStringLiteral("tovalo-ctl-test-no-bus"));
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"pin"},
        {"unpin"},
        {"pin", "abc"},
        {"pin", "12abc"},
        {"pin", "-1"},
        {"pin", "+1"},
        {"pin", "0x"},
        {"pin", "4294967296"},
        {"pin", "1", "2"},
        {"list", "extra"},
        {"unpin-all", "1"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& arg : args) {
            line += "[" + arg + "]";
        }
        SCOPED_TRACE(line);
        std::ostringstream out;
        std::ostringstream err;

        EXPECT_EQ(runCtl(args, out, err, noBus), CtlExitCode::usage);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find("usage: tovalo ctl"), std::string::npos) << err.str();
    }

    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runCtl({"help"}, out, err, noBus), CtlExitCode::ok);
    EXPECT_NE(out.str().find("usage: tovalo ctl"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}

class ControlDBusTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { bus_ = PrivateBus::start(&skipReason_).release(); }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }

    void SetUp() override {
        if (!bus_) {
            GTEST_SKIP() << skipReason_;
        }
        ASSERT_NE(QCoreApplication::instance(), nullptr);
        // The program's main queue is the Qt thread: drained whenever Qt's loop would wait.
        pump_ = QObject::connect(QAbstractEventDispatcher::instance(),
                                 &QAbstractEventDispatcher::aboutToBlock,
                                 [runtime = app.runtime] { runtime->runUntilIdle(); });
        app.launch();
        editor = app.desktop->launchApp("org.example.Editor", "Editor");
        browser = app.desktop->launchApp("org.example.Browser", "Browser");
        commands = ControlCommands::create({
            .runtime = app.runtime,
            .pinnedWindowManager = app.root->pinnedWindowManager(),
            .captureContextProvider = app.root->captureContextProvider(),
            .windowServerInfo = app.root->windowServerInfo(),
            .bundleInfo = app.root->ports().bundleInfo,
        });
        service = startService();
        ASSERT_EQ(service->registerOnBus(), QtControlService::Registration::registered);
        client = connect();
        ASSERT_TRUE(client.isConnected());
    }

    void TearDown() override {
        // A pin leaves the overlay's placement queued for 0.1 s later; that job holds the panel,
        // which holds the runtime, so it must run before the graph can be released.
        app.runtime->advanceBy(seconds(1));
        service.reset();
        QObject::disconnect(pump_);
        for (const auto& name : connectionNames_) {
            QDBusConnection::disconnectFromBus(name);
        }
    }

    QDBusConnection connect() {
        connectionNames_.push_back(QStringLiteral("tovalo-ctl-test-%1").arg(nextConnection_++));
        return bus_->connect(connectionNames_.back());
    }

    std::unique_ptr<QtControlService> startService() {
        return std::make_unique<QtControlService>(
            commands, app.root->appDelegate(), [this] { return hasVisibleWindows; }, connect());
    }

    CtlRun ctl(const std::vector<std::string>& args) { return ctlOn(client, args); }

    static CtlRun ctlOn(const QDBusConnection& bus, const std::vector<std::string>& args) {
        CtlRun run;
        offTheQtThread([&] {
            std::ostringstream out;
            std::ostringstream err;
            run.code = runCtl(args, out, err, bus);
            run.out = out.str();
            run.err = err.str();
        });
        return run;
    }

    bool isPinned(WindowID id) const { return app.root->pinnedWindowManager()->isPinned(id); }

    static inline PrivateBus* bus_ = nullptr;
    static inline std::string skipReason_;

    AppHarness app;
    std::shared_ptr<sim::SimRunningApplication> editor;
    std::shared_ptr<sim::SimRunningApplication> browser;
    std::shared_ptr<ControlCommands> commands;
    std::unique_ptr<QtControlService> service;
    QDBusConnection client{QString()};
    bool hasVisibleWindows = false;

  private:
    QMetaObject::Connection pump_;
    std::vector<QString> connectionNames_;
    static inline int nextConnection_ = 0;
};

TEST_F(ControlDBusTest, ListPrintsATableOfTheWindowsWithTheirPinnedMark) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID docs = app.desktop->openWindow(browser, "Docs — draft", Rect{50, 50, 900, 700});
    ASSERT_EQ(ctl({"pin", std::to_string(notes)}).code, CtlExitCode::ok);

    const auto run = ctl({"list"});

    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_EQ(run.err, "");
    // Window IDs of the simulated desktop have three digits.
    EXPECT_EQ(run.out, "ID   PIN  APP      TITLE\n" + std::to_string(docs) +
                           "  -    Browser  Docs — draft\n" + std::to_string(notes) +
                           "  *    Editor   Notes\n");
}

TEST_F(ControlDBusTest, PinUnpinUnpinAllAndStatusDriveTheProgramsPinnedWindows) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID docs = app.desktop->openWindow(browser, "Docs", Rect{50, 50, 900, 700});
    const std::string n = std::to_string(notes);
    const std::string d = std::to_string(docs);

    auto run = ctl({"pin", n});
    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_EQ(run.out, "pinned window " + n + "\n");
    EXPECT_TRUE(isPinned(notes));

    run = ctl({"pin", n});
    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_EQ(run.out, "window " + n + " was already pinned\n");
    EXPECT_EQ(app.root->pinnedWindowManager()->pinnedWindows().get().size(), 1u);

    // Hexadecimal IDs, as X tools print them, name the same window.
    std::ostringstream hex;
    hex << "0x" << std::hex << docs;
    run = ctl({"pin", hex.str()});
    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_TRUE(isPinned(docs));

    run = ctl({"status"});
    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_EQ(run.out, "version: 1.0.0\npinned: 2\npinned ids: " + n + " " + d + "\n");

    run = ctl({"unpin", n});
    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_EQ(run.out, "unpinned window " + n + "\n");
    EXPECT_FALSE(isPinned(notes));
    EXPECT_TRUE(isPinned(docs));

    ASSERT_EQ(ctl({"pin", n}).code, CtlExitCode::ok);
    run = ctl({"unpin-all"});
    EXPECT_EQ(run.code, CtlExitCode::ok) << run.err;
    EXPECT_EQ(run.out, "unpinned 2 windows\n");
    EXPECT_TRUE(app.root->pinnedWindowManager()->pinnedWindows().get().empty());

    run = ctl({"status"});
    EXPECT_EQ(run.out, "version: 1.0.0\npinned: 0\npinned ids:\n");
}

TEST_F(ControlDBusTest, FailedCommandsExitOneWithTheReason) {
    const WindowID notes = app.desktop->openWindow(editor, "Notes", Rect{100, 100, 800, 600});
    const WindowID hidden = app.desktop->openWindow(browser, "Hidden", Rect{0, 30, 400, 300});
    app.desktop->minimize(hidden);
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"pin", "424242"}, "tovalo ctl: no window with ID 424242\n"},
        {{"unpin", std::to_string(notes)},
         "tovalo ctl: window " + std::to_string(notes) + " is not pinned\n"},
        {{"pin", std::to_string(hidden)},
         "tovalo ctl: window " + std::to_string(hidden) + " cannot be captured"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());

        const auto run = ctl(c.args);

        EXPECT_EQ(run.code, CtlExitCode::failed);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(c.error, 0), 0u) << run.err;
    }
    EXPECT_TRUE(app.root->pinnedWindowManager()->pinnedWindows().get().empty());
}

TEST_F(ControlDBusTest, WithoutARunningInstanceCtlSaysHowToStartItAndExitsThree) {
    service.reset();
    const QDBusConnection noBus(QStringLiteral("tovalo-ctl-test-no-bus"));

    for (const auto& run : {ctl({"list"}), ctl({"pin", "101"}), ctlOn(noBus, {"status"})}) {
        EXPECT_EQ(run.code, CtlExitCode::notRunning);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("tovalo is not running"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Start it"), std::string::npos) << run.err;
    }
}

TEST_F(ControlDBusTest, ASecondLaunchFindsTheNameTakenAndReopensTheFirst) {
    const auto shown = [&] { return app.journal->count("mainWindow.show"); };
    const long shownAtLaunch = shown();
    auto second = startService();
    const QDBusConnection secondBus = connect();

    EXPECT_EQ(second->registerOnBus(), QtControlService::Registration::nameTaken);
    bool reopened = false;
    std::string error;
    offTheQtThread([&] { reopened = QtControlService::requestReopen(secondBus, &error); });
    EXPECT_TRUE(reopened) << error;
    EXPECT_EQ(shown(), shownAtLaunch + 1);

    // With a window on screen the first instance is asked again but shows nothing new.
    hasVisibleWindows = true;
    offTheQtThread([&] { reopened = QtControlService::requestReopen(secondBus, &error); });
    EXPECT_TRUE(reopened) << error;
    EXPECT_EQ(shown(), shownAtLaunch + 1);

    // The first instance gives the name up when it goes; the next launch is the instance then.
    service.reset();
    EXPECT_EQ(second->registerOnBus(), QtControlService::Registration::registered);
    EXPECT_EQ(ctl({"status"}).code, CtlExitCode::ok);
}

}  // namespace
}  // namespace tovalo::qt
