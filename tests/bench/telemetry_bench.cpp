// What `track` and `capture` cost the calling thread, with the real Linux clients behind the
// facades and no reachable server (uploads fail in the background), against a bare
// mutex-protected vector push of the same data measured in the same run.
//
//   ./scripts/bench telemetry_bench

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/dispatch_runtime.h"
#include "base/run_loop.h"
#include "platform/linux/curl_http_client.h"
#include "platform/linux/linux_analytics_client.h"
#include "platform/linux/linux_error_reporting_client.h"
#include "platform/linux/terminate_handler_hooks.h"
#include "telemetry/analytics_tracker.h"
#include "telemetry/error_reporter.h"

namespace tovalo {
namespace {

// Nothing listens on the discard port of the loopback address: every upload is refused.
constexpr const char* kUnreachable = "http://127.0.0.1:9";
constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
constexpr const char* kDsn = "http://0123456789abcdef0123456789abcdef@127.0.0.1:9/1";

const ValueMap& sampleProperties() {
    static const ValueMap properties{{"window_id", Value(4242)},
                                     {"opacity", Value(0.85)},
                                     {"mode", Value("hover")},
                                     {"is_pinned", Value(true)}};
    return properties;
}

class TempDirectory {
  public:
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tovalo-bench-XXXXXX");
        path_ = mkdtemp(pattern.data());
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void BM_AnalyticsTrack(benchmark::State& state) {
    TempDirectory directory;
    auto runtime = DispatchRuntime::makeThreaded(std::make_shared<RunLoop>());
    CurlHttpClient http;
    LinuxAnalyticsClient::Settings settings;
    settings.stateDirectory = directory.path();
    settings.defaultServerUrl = kUnreachable;
    settings.deviceSeed = "bench";
    LinuxAnalyticsClient client(runtime, http, settings);
    AnalyticsTracker tracker(client, kToken);
    tracker.configure();
    for (auto _ : state) {
        tracker.track("Overlay - Opacity Adjusted", sampleProperties());
    }
    client.shutdown(milliseconds(100));
}
BENCHMARK(BM_AnalyticsTrack);

void BM_ErrorCapture(benchmark::State& state) {
    TempDirectory directory;
    auto runtime = DispatchRuntime::makeThreaded(std::make_shared<RunLoop>());
    CurlHttpClient http;
    LinuxErrorReportingClient::Config config;
    config.spoolDirectory = directory.path();
    config.release = "tovalo@bench+0";
    LinuxErrorReportingClient client(runtime, http, config);
    TerminateHandlerHooks hooks;
    ErrorReporter reporter(client, hooks, kDsn);
    reporter.start();
    const Error error{"com.tovalohq.bench", -3801, "declined"};
    for (auto _ : state) {
        reporter.capture(error, ReportLevel::error, std::nullopt,
                         {{"operation", Value("Bench.capture")}, {"window_id", Value(4242)}});
    }
}
BENCHMARK(BM_ErrorCapture);

// The floor: hand the same event data to another thread through a locked vector.
void BM_MutexVectorPush(benchmark::State& state) {
    std::mutex mutex;
    std::vector<std::pair<std::string, ValueMap>> events;
    events.reserve(1 << 20);
    for (auto _ : state) {
        std::pair<std::string, ValueMap> event{"Overlay - Opacity Adjusted", sampleProperties()};
        std::lock_guard lock(mutex);
        if (events.size() == events.capacity()) {
            events.clear();
        }
        events.push_back(std::move(event));
    }
}
BENCHMARK(BM_MutexVectorPush);

}  // namespace
}  // namespace tovalo
