#include "platform/linux/crash_signal_handler.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>

#include "base/manual_dispatch_runtime.h"
#include "error_report_test_support.h"
#include "platform/linux/crash_record.h"
#include "platform/linux/curl_http_client.h"
#include "platform/linux/linux_error_reporting_client.h"
#include "support/local_http_server.h"

namespace tovalo {
namespace {

using error_report_testing::filesIn;
using error_report_testing::parseEnvelope;
using error_report_testing::readFile;
using error_report_testing::TempDir;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerTakesFaults = true;
#else
constexpr bool kSanitizerTakesFaults = false;
#endif

// The child died of `signal`. A sanitizer build's own SIGSEGV handler, which ours hands the
// signal back to, ends the process with an error exit instead.
std::function<bool(int)> diedOf(int signal) {
    return [signal](int status) {
        if (WIFSIGNALED(status)) {
            // A sanitiser that takes the fault over ends the process its own way (abort_on_error).
            return WTERMSIG(status) == signal ||
                   (kSanitizerTakesFaults && WTERMSIG(status) == SIGABRT);
        }
        return kSanitizerTakesFaults && signal != SIGABRT && WIFEXITED(status) &&
               WEXITSTATUS(status) != 0;
    };
}

// A write the processor refuses: the page is mapped but not accessible, so no sanitiser
// reports it first and the signal comes from the hardware.
void writeToProtectedPage() {
    void* page = ::mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    int* volatile target = static_cast<int*>(page);
    *target = 1;
}

// Every death test forks without exec, so the child writes where the parent looks.
class CrashSignalHandlerTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }

    TempDir temp_;
};

TEST_F(CrashSignalHandlerTest, RecordsEachFatalSignalAndTheProcessStillDiesOfIt) {
    const struct {
        const char* name;
        int signal;
        void (*crash)();
    } cases[] = {
        {"raised SIGSEGV", SIGSEGV, [] { std::raise(SIGSEGV); }},
        {"raised SIGBUS", SIGBUS, [] { std::raise(SIGBUS); }},
        {"raised SIGILL", SIGILL, [] { std::raise(SIGILL); }},
        {"raised SIGFPE", SIGFPE, [] { std::raise(SIGFPE); }},
        {"abort", SIGABRT, [] { std::abort(); }},
        // A real fault: the handler returns, the write faults again under the old action.
        {"write to a protected page", SIGSEGV, writeToProtectedPage},
    };
    for (const auto& c : cases) {
        const std::string path = (temp_.path() / (std::string(c.name) + ".record")).string();
        EXPECT_EXIT(
            {
                CrashSignalHandler::install(path);
                CrashSignalHandler::setContext("{\"release\":\"tovalo@1.0+7\"}");
                c.crash();
            },
            diedOf(c.signal), "")
            << c.name;

        const auto record = CrashRecord::parse(readFile(path));
        ASSERT_TRUE(record) << c.name << ": " << readFile(path);
        EXPECT_EQ(record->signalNumber, c.signal) << c.name;
        EXPECT_EQ(record->signalName, crashSignalName(c.signal)) << c.name;
        EXPECT_EQ(record->context, "{\"release\":\"tovalo@1.0+7\"}") << c.name;
        EXPECT_TRUE(record->time) << c.name;
        EXPECT_GE(record->frames.size(), 2u) << c.name;
    }
}

TEST_F(CrashSignalHandlerTest, HandsTheSignalToTheActionInstalledBeforeIt) {
    const std::string path = (temp_.path() / "chained.record").string();
    EXPECT_EXIT(
        {
            struct sigaction other {};
            other.sa_handler = [](int) { ::_exit(42); };
            sigemptyset(&other.sa_mask);
            ::sigaction(SIGFPE, &other, nullptr);
            CrashSignalHandler::install(path);
            std::raise(SIGFPE);
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_TRUE(CrashRecord::parse(readFile(path)));
}

TEST_F(CrashSignalHandlerTest, InstallsOnceAndUninstallPutsThePreviousActionsBack) {
    struct sigaction before {};
    ::sigaction(SIGSEGV, nullptr, &before);

    ASSERT_TRUE(CrashSignalHandler::install((temp_.path() / "a.record").string()));
    EXPECT_FALSE(CrashSignalHandler::install((temp_.path() / "b.record").string()));
    struct sigaction during {};
    ::sigaction(SIGSEGV, nullptr, &during);
    EXPECT_TRUE(during.sa_flags & SA_ONSTACK);
    EXPECT_TRUE(during.sa_flags & SA_SIGINFO);
    stack_t stack{};
    ::sigaltstack(nullptr, &stack);
    EXPECT_FALSE(stack.ss_flags & SS_DISABLE);

    CrashSignalHandler::uninstall();
    EXPECT_FALSE(CrashSignalHandler::isInstalled());
    struct sigaction after {};
    ::sigaction(SIGSEGV, nullptr, &after);
    EXPECT_EQ(after.sa_flags & (SA_SIGINFO | SA_ONSTACK),
              before.sa_flags & (SA_SIGINFO | SA_ONSTACK));
    EXPECT_EQ(reinterpret_cast<void*>(after.sa_sigaction),
              reinterpret_cast<void*>(before.sa_sigaction));
}

// A crash in one run becomes a fatal report sent by the next run, carrying the user and
// release of the run that crashed.
TEST_F(CrashSignalHandlerTest, ACrashIsReportedAtTheNextStart) {
    const std::string spool = (temp_.path() / "error-reports").string();
    ErrorReportingOptions options;
    options.dsn = "https://0123456789abcdef0123456789abcdef@errors.example.com/42";
    options.environment = "production";
    options.enableCrashHandler = true;

    EXPECT_EXIT(
        {
            auto runtime = ManualDispatchRuntime::make();
            CurlHttpClient http;
            LinuxErrorReportingClient::Config config;
            config.spoolDirectory = spool;
            config.endpointOverride = "http://127.0.0.1:9/unused";
            config.release = "tovalo@1.0+7";
            LinuxErrorReportingClient crashing(runtime, http, config);
            crashing.start(options);
            crashing.setUser({"device-1", std::nullopt, std::nullopt, {{"app_build", "7"}}});
            std::raise(SIGSEGV);
        },
        diedOf(SIGSEGV), "");
    ASSERT_EQ(filesIn(spool, "crash-").size(), 1u);

    testing::LocalHttpServer server;
    auto runtime = ManualDispatchRuntime::make();
    CurlHttpClient http;
    LinuxErrorReportingClient::Config config;
    config.spoolDirectory = spool;
    config.endpointOverride = server.url("/api/42/envelope/");
    config.release = "tovalo@1.1+8";
    LinuxErrorReportingClient next(runtime, http, config);
    options.enableCrashHandler = false;
    next.start(options);
    runtime->runUntilIdle();

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto event = parseEnvelope(requests[0].body).event;
    EXPECT_EQ(event["level"], "fatal");
    EXPECT_EQ(event["message"], "Fatal signal SIGSEGV");
    EXPECT_EQ(event["release"], "tovalo@1.0+7");
    EXPECT_EQ(event["user"]["id"], "device-1");
    EXPECT_EQ(event["tags"]["type"], "crash");
    EXPECT_EQ(event["exception"]["type"], "SIGSEGV");
    EXPECT_EQ(event["exception"]["handled"], false);
    EXPECT_GE(event["exception"]["frames"].size(), 2u);
    EXPECT_TRUE(filesIn(spool, "crash-").empty());
    EXPECT_TRUE(filesIn(spool, "report-").empty());
}

}  // namespace
}  // namespace tovalo
