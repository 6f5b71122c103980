#include "platform/linux/linux_error_reporting_client.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "platform/linux/crash_record.h"
#include "platform/linux/crash_signal_handler.h"
#include "platform/linux/error_report_event.h"
#include "platform/linux/error_report_uploader.h"
#include "platform/linux/reporting_dsn.h"
#include "platform/posix/atomic_file.h"

namespace tovalo {

namespace {

constexpr std::string_view kCrashRecordPrefix = "crash-";
constexpr std::string_view kCrashRecordSuffix = ".record";
// A crash record holds a few hundred frames at most; anything larger is not one.
constexpr std::size_t kMaxCrashRecordBytes = 1024 * 1024;

// A capture as the caller's thread hands it over: copies only, no formatting.
struct PendingCapture {
    WallTime time;
    ReportLevel level = ReportLevel::error;
    ReportTags tags;
    ValueMap extras;
    std::optional<std::string> message;
    std::optional<Error> error;
    std::shared_ptr<const ReportUser> user;
};

// Crash records are read without blocking: a FIFO in the spool must not hang the start.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit) {
    auto result = readWholeFile(path, limit);
    if (result.status != FileReadStatus::read) {
        return std::nullopt;
    }
    return std::move(result.contents);
}

// PRETTY_NAME from os-release, e.g. "Debian GNU/Linux 12 (bookworm)"; empty when unknown.
std::string distributionName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line)) {
            if (line.starts_with("PRETTY_NAME=")) {
                std::string value = line.substr(12);
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                    value.back() == value.front()) {
                    value = value.substr(1, value.size() - 2);
                }
                return value;
            }
        }
    }
    return {};
}

// Facts about the machine that help to read a report; nothing that identifies the user.
ValueMap machineContexts() {
    ValueMap os;
    ValueMap device;
    utsname names{};
    if (::uname(&names) == 0) {
        os.emplace("name", std::string(names.sysname));
        os.emplace("kernel_version", std::string(names.release));
        device.emplace("arch", std::string(names.machine));
    }
    if (auto distribution = distributionName(); !distribution.empty()) {
        os.emplace("distribution", std::move(distribution));
    }
    ValueMap contexts;
    contexts.emplace("os", std::move(os));
    if (!device.empty()) {
        contexts.emplace("device", std::move(device));
    }
    return contexts;
}

std::string randomSuffix() {
    return newErrorReportEventId().substr(0, 8);
}

}  // namespace

struct LinuxErrorReportingClient::Core : std::enable_shared_from_this<Core> {
    Core(std::shared_ptr<DispatchRuntime> rt, HttpClient& h, Config c)
        : runtime(std::move(rt)),
          http(h),
          config(std::move(c)),
          spoolQueue(runtime->makeSerialQueue("tovalo.error-reporting")),
          uploadQueue(runtime->makeSerialQueue("tovalo.error-reporting.upload")),
          spool(std::make_shared<ErrorReportSpool>(config.spoolDirectory, config.spoolLimits)) {}

    const std::shared_ptr<DispatchRuntime> runtime;
    HttpClient& http;
    const Config config;
    // Builds events and writes them; kept apart from uploads, which may wait on the network.
    const std::shared_ptr<DispatchQueue> spoolQueue;
    const std::shared_ptr<DispatchQueue> uploadQueue;
    const std::shared_ptr<ErrorReportSpool> spool;

    std::atomic<bool> enabled{false};

    mutable std::mutex mutex;
    bool started = false;
    bool debug = false;
    std::string environment;
    ReportScope scope;
    std::shared_ptr<const ReportUser> user;
    std::shared_ptr<ErrorReportUploader> uploader;
    std::unique_ptr<AppHangWatchdog> watchdog;
    std::string crashRecordPath;
    bool ownsCrashHandler = false;
    std::deque<PendingCapture> pending;
    bool drainQueued = false;
    std::size_t droppedCaptures = 0;

    // Only touched on the spool queue (or by the destructor once nothing else runs).
    std::optional<ValueMap> contexts;

    void start(const ErrorReportingOptions& options) {
        const auto dsn = ReportingDsn::parse(options.dsn);
        std::lock_guard lock(mutex);
        if (started) {
            return;
        }
        started = true;
        if (!dsn) {
            TOVALO_DEBUG_LOG("ErrorReporting", "invalid DSN; error reporting stays off");
            return;
        }
        debug = options.debug;
        environment = options.environment;
        ErrorReportUploader::Options upload;
        upload.endpoint = config.endpointOverride.value_or(dsn->envelopeEndpoint());
        upload.dsn = options.dsn;
        upload.publicKey = dsn->publicKey;
        upload.initialBackoff = config.initialRetryDelay;
        upload.maxBackoff = config.maxRetryDelay;
        upload.debugLog = options.debug;
        uploader = std::make_shared<ErrorReportUploader>(uploadQueue, http, spool, runtime->clock(),
                                                         std::move(upload));
        if (options.enableCrashHandler) {
            // The handler cannot create folders: make sure the record's folder exists now,
            // before a crash early in a first run could need it.
            std::error_code ignored;
            std::filesystem::create_directories(config.spoolDirectory, ignored);
            const std::string path = config.spoolDirectory + "/" + std::string(kCrashRecordPrefix) +
                                     std::to_string(::getpid()) + "-" + randomSuffix() +
                                     std::string(kCrashRecordSuffix);
            // Another client of this process may own the handler already; then it stays its.
            if (CrashSignalHandler::install(path)) {
                ownsCrashHandler = true;
                crashRecordPath = path;
                updateCrashContextLocked();
            }
        }
        if (options.enableAppHangTracking) {
            watchdog = std::make_unique<AppHangWatchdog>(
                runtime,
                [weak = weak_from_this()](Duration) {
                    if (auto self = weak.lock()) {
                        self->reportHang();
                    }
                },
                config.appHang);
        }
        if (debug) {
            TOVALO_DEBUG_LOG("ErrorReporting", "started",
                             {{"spool", config.spoolDirectory},
                              {"crash_handler", ownsCrashHandler},
                              {"app_hang_tracking", watchdog != nullptr}});
        }
        enabled.store(true, std::memory_order_release);
        spoolQueue->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->convertCrashRecords();
                self->scheduleUpload();
            }
        });
    }

    void setUser(const ReportUser& newUser) {
        std::lock_guard lock(mutex);
        user = std::make_shared<const ReportUser>(newUser);
        if (ownsCrashHandler) {
            updateCrashContextLocked();
        }
    }

    // The scope a crash of this run should be reported with.
    void updateCrashContextLocked() {
        std::optional<ReportUser> current;
        if (user) {
            current = *user;
        }
        CrashSignalHandler::setContext(crashContextLine(environment, config.release, current));
    }

    void capture(std::optional<std::string> message, std::optional<Error> error,
                 const ScopeConfiguration& configure) {
        if (!enabled.load(std::memory_order_acquire)) {
            return;
        }
        ReportScope reportScope;
        std::shared_ptr<const ReportUser> reportUser;
        {
            std::lock_guard lock(mutex);
            reportScope = scope;
            reportUser = user;
        }
        if (configure) {
            try {
                configure(reportScope);
            } catch (...) {
                // The caller's configuration failed half-way; the report goes out as it stands.
            }
        }
        PendingCapture item;
        item.time = runtime->clock().wallNow();
        item.level = reportScope.level();
        item.tags = reportScope.tags();
        item.extras = reportScope.extras();
        item.message = std::move(message);
        item.error = std::move(error);
        item.user = std::move(reportUser);
        enqueue(std::move(item));
    }

    void enqueue(PendingCapture item) {
        {
            std::lock_guard lock(mutex);
            if (pending.size() >= std::max<std::size_t>(config.maxQueuedCaptures, 1)) {
                pending.pop_front();
                ++droppedCaptures;
            }
            pending.push_back(std::move(item));
            if (drainQueued) {
                return;
            }
            drainQueued = true;
        }
        spoolQueue->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->drain();
            }
        });
    }

    void reportHang() {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(config.appHang.threshold);
        capture("App hanging for at least " + std::to_string(ms.count()) + " ms", std::nullopt,
                [](ReportScope& hangScope) {
                    hangScope.setLevel(ReportLevel::error);
                    hangScope.setTags({{"type", "app_hang"}});
                });
    }

    std::deque<PendingCapture> takePending() {
        std::lock_guard lock(mutex);
        drainQueued = false;
        return std::exchange(pending, {});
    }

    void drain() {
        persist(takePending());
        scheduleUpload();
    }

    void persist(const std::deque<PendingCapture>& items) {
        for (const auto& item : items) {
            spool->add(serializeErrorReportEvent(makeEvent(item)));
        }
    }

    void scheduleUpload() {
        std::shared_ptr<ErrorReportUploader> current;
        {
            std::lock_guard lock(mutex);
            current = uploader;
        }
        if (current) {
            current->schedule();
        }
    }

    // Fields every event of this run shares.
    ErrorReportEvent baseEvent() {
        if (!contexts) {
            contexts = machineContexts();
        }
        ErrorReportEvent event;
        event.eventId = newErrorReportEventId();
        event.timestamp = runtime->clock().wallNow();
        event.release = config.release;
        event.contexts = *contexts;
        std::lock_guard lock(mutex);
        event.environment = environment;
        if (user) {
            event.user = *user;
        }
        return event;
    }

    ErrorReportEvent makeEvent(const PendingCapture& item) {
        ErrorReportEvent event = baseEvent();
        event.timestamp = item.time;
        event.level = item.level;
        event.user.reset();
        if (item.user) {
            event.user = *item.user;
        }
        event.tags = item.tags;
        event.extras = item.extras;
        event.message = item.message;
        if (item.error) {
            ErrorReportException exception;
            exception.type = item.error->domain;
            exception.value = item.error->description;
            exception.code = item.error->code;
            event.exception = std::move(exception);
        }
        return event;
    }

    // Turns the crash records that earlier runs left behind into fatal reports.
    void convertCrashRecords() {
        spool->list();  // creates the directory on a first run, so a crash record can be written
        std::vector<std::string> paths;
        if (DIR* stream = ::opendir(config.spoolDirectory.c_str())) {
            while (const dirent* entry = ::readdir(stream)) {
                const std::string_view name = entry->d_name;
                if (name.starts_with(kCrashRecordPrefix) && name.ends_with(kCrashRecordSuffix)) {
                    paths.push_back(config.spoolDirectory + "/" + std::string(name));
                }
            }
            ::closedir(stream);
        }
        std::string ownPath;
        {
            std::lock_guard lock(mutex);
            ownPath = crashRecordPath;
        }
        for (const auto& path : paths) {
            if (path == ownPath) {
                continue;
            }
            const auto text = readSmallFile(path, kMaxCrashRecordBytes);
            if (const auto record = text ? CrashRecord::parse(*text) : std::nullopt) {
                spool->add(serializeErrorReportEvent(crashReportEvent(*record, baseEvent())));
            }
            // Converted, or not a record that could ever be: either way it is done with.
            ::unlink(path.c_str());
        }
    }

    void shutdown() {
        std::unique_ptr<AppHangWatchdog> stoppedWatchdog;
        std::shared_ptr<ErrorReportUploader> stoppedUploader;
        {
            std::lock_guard lock(mutex);
            enabled.store(false, std::memory_order_release);
            stoppedWatchdog = std::move(watchdog);
            stoppedUploader = std::move(uploader);
            if (ownsCrashHandler) {
                CrashSignalHandler::uninstall();
                ownsCrashHandler = false;
            }
        }
        stoppedWatchdog.reset();
        // What the background queue has not written yet would be lost with the process.
        persist(takePending());
    }
};

std::optional<std::string> LinuxErrorReportingClient::defaultSpoolDirectory(const XdgPaths& paths) {
    const auto state = paths.stateHome();
    if (!state) {
        return std::nullopt;
    }
    return *state + "/tovalo/error-reports";
}

LinuxErrorReportingClient::LinuxErrorReportingClient(std::shared_ptr<DispatchRuntime> runtime,
                                                     HttpClient& http, Config config)
    : core_(std::make_shared<Core>(std::move(runtime), http, std::move(config))) {}

LinuxErrorReportingClient::~LinuxErrorReportingClient() {
    core_->shutdown();
}

void LinuxErrorReportingClient::start(const ErrorReportingOptions& options) {
    core_->start(options);
}

void LinuxErrorReportingClient::setUser(const ReportUser& user) {
    core_->setUser(user);
}

void LinuxErrorReportingClient::captureError(const Error& error,
                                             const ScopeConfiguration& configure) {
    core_->capture(std::nullopt, error, configure);
}

void LinuxErrorReportingClient::captureMessage(const std::string& message,
                                               const ScopeConfiguration& configure) {
    core_->capture(message, std::nullopt, configure);
}

bool LinuxErrorReportingClient::isEnabled() const {
    return core_->enabled.load(std::memory_order_acquire);
}

std::size_t LinuxErrorReportingClient::droppedCaptureCount() const {
    std::lock_guard lock(core_->mutex);
    return core_->droppedCaptures;
}

std::string LinuxErrorReportingClient::crashRecordPath() const {
    std::lock_guard lock(core_->mutex);
    return core_->crashRecordPath;
}

ErrorReportSpool& LinuxErrorReportingClient::spool() const {
    return *core_->spool;
}

}  // namespace tovalo
