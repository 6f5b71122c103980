#include "platform/linux/terminate_handler_hooks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/sim/sim_error_reporting_client.h"
#include "telemetry/error_reporter.h"

namespace tovalo {
namespace {

// Exit codes that tell, from outside the dying process, which function ended it.
constexpr int kPreviousTerminateExit = 41;
constexpr int kHandlerExit = 42;

struct CustomFailure {};
struct CustomLogicError : std::logic_error {
    using std::logic_error::logic_error;
};

// Stands for other crash tooling's terminate function.
[[noreturn]] void previousTerminate() {
    std::fprintf(stderr, "previous terminate\n");
    std::_Exit(kPreviousTerminateExit);
}

bool recordingTerminateCalled = false;
void recordingTerminate() {
    recordingTerminateCalled = true;
}

void throwUncaughtOnAThread() {
    std::thread([] { throw std::runtime_error("boom"); }).join();
}

class TerminateHandlerHooksTest : public ::testing::Test {
  protected:
    TerminateHandlerHooksTest() : saved_(std::get_terminate()) {}
    // Puts the process's terminate function back, dropping any handler a test installed.
    ~TerminateHandlerHooksTest() override {
        hooks_.setHandler([](const UncaughtException&) {});
        std::set_terminate(saved_);
    }

    std::terminate_handler saved_;
    TerminateHandlerHooks hooks_;
};

TEST_F(TerminateHandlerHooksTest, DescribesTheExceptionBeingHandled) {
    struct Case {
        const char* label;
        void (*raise)();
        const char* name;
        std::optional<std::string> reason;
    };
    const Case cases[] = {
        {"standard exception", [] { throw std::runtime_error("boom"); }, "std::runtime_error",
         "boom"},
        {"own exception type", [] { throw CustomLogicError("bad state"); },
         "tovalo::(anonymous namespace)::CustomLogicError", "bad state"},
        {"not a std::exception", [] { throw CustomFailure(); },
         "tovalo::(anonymous namespace)::CustomFailure", std::nullopt},
        {"a plain value", [] { throw 42; }, "int", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        try {
            c.raise();
        } catch (...) {
            const auto exception = TerminateHandlerHooks::describeCurrentException();
            ASSERT_TRUE(exception.has_value());
            EXPECT_EQ(exception->name, c.name);
            EXPECT_EQ(exception->reason, c.reason);
            EXPECT_FALSE(exception->callStack.empty());
            EXPECT_EQ(exception->userInfo, std::nullopt);
        }
    }
    EXPECT_EQ(TerminateHandlerHooks::describeCurrentException(), std::nullopt);
}

TEST_F(TerminateHandlerHooksTest, ForeignTerminateFunctionIsAHandlerThatCallsIt) {
    std::set_terminate(&recordingTerminate);
    recordingTerminateCalled = false;

    const UncaughtExceptionHandler current = hooks_.currentHandler();
    ASSERT_TRUE(current);
    current({"int", std::nullopt, {}, std::nullopt});
    EXPECT_TRUE(recordingTerminateCalled);
}

TEST_F(TerminateHandlerHooksTest, InstalledHandlerIsTheCurrentOne) {
    std::set_terminate(&recordingTerminate);
    std::string seen;
    hooks_.setHandler([&](const UncaughtException& exception) { seen = exception.name; });

    EXPECT_NE(std::get_terminate(), &recordingTerminate);
    hooks_.currentHandler()({"int", std::nullopt, {}, std::nullopt});
    EXPECT_EQ(seen, "int");
}

TEST_F(TerminateHandlerHooksTest, SettingAForeignHandlerBackRestoresThatTerminateFunction) {
    std::set_terminate(&recordingTerminate);
    const UncaughtExceptionHandler previous = hooks_.currentHandler();
    hooks_.setHandler([](const UncaughtException&) {});
    hooks_.setHandler(previous);

    EXPECT_EQ(std::get_terminate(), &recordingTerminate);
}

// --- A real uncaught exception, in a child process ---

using TerminateHandlerHooksDeathTest = TerminateHandlerHooksTest;

TEST_F(TerminateHandlerHooksDeathTest, UncaughtExceptionReachesTheHandlerThenThePreviousOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::set_terminate(&previousTerminate);
            const UncaughtExceptionHandler previous = hooks_.currentHandler();
            hooks_.setHandler([previous](const UncaughtException& exception) {
                std::fprintf(stderr, "handled %s: %s, %zu frames\n", exception.name.c_str(),
                             exception.reason.value_or("-").c_str(), exception.callStack.size());
                previous(exception);
            });
            throwUncaughtOnAThread();
        },
        ::testing::ExitedWithCode(kPreviousTerminateExit),
        "handled std::runtime_error: boom, [1-9][0-9]* frames\nprevious terminate");
}

TEST_F(TerminateHandlerHooksDeathTest, ProcessAbortsWhenTheHandlerReturns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            hooks_.setHandler([](const UncaughtException&) { std::fprintf(stderr, "handled\n"); });
            throwUncaughtOnAThread();
        },
        ::testing::KilledBySignal(SIGABRT), "handled");
}

// std::terminate without an exception is not an uncaught exception: the handler stays out of
// it and the terminate function that was there before decides.
TEST_F(TerminateHandlerHooksDeathTest, TerminateWithoutAnExceptionGoesToThePreviousFunction) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::set_terminate(&previousTerminate);
            hooks_.setHandler([](const UncaughtException&) { std::_Exit(kHandlerExit); });
            std::terminate();
        },
        ::testing::ExitedWithCode(kPreviousTerminateExit), "previous terminate");
}

// The whole path: the error reporter's handler files the fatal report, then the handler that
// was installed before it runs and sees the report.
TEST_F(TerminateHandlerHooksDeathTest, ErrorReporterReportsAndHandsOverToThePreviousHandler) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            sim::SimErrorReportingClient client;
            hooks_.setHandler([&client](const UncaughtException&) {
                const auto reports = client.reports();
                for (const auto& report : reports) {
                    const ValueMap& extras = report.scope.extras();
                    std::fprintf(stderr, "%s %s %s %s\n", report.message.value_or("").c_str(),
                                 reportLevelName(report.scope.level()),
                                 extras.at("exception_name").asString().value_or("").c_str(),
                                 extras.at("reason").asString().value_or("").c_str());
                }
                std::_Exit(kPreviousTerminateExit);
            });
            ErrorReporter reporter(client, hooks_, "dsn");
            reporter.start();
            reporter.installExceptionHandler();
            throwUncaughtOnAThread();
        },
        ::testing::ExitedWithCode(kPreviousTerminateExit),
        "Uncaught NSException fatal std::runtime_error boom");
}

}  // namespace
}  // namespace tovalo
