#include "telemetry/error_reporter.h"

#include <utility>

namespace tovalo {

// The handler installed in the hooks. A named type (not a lambda) so the destructor can tell
// whether the hooks still hold this reporter's handler.
struct ErrorReporter::InstalledHandler {
    ErrorReporter* reporter;
    void operator()(const UncaughtException& exception) const {
        reporter->handleUncaughtException(exception);
    }
};

ErrorReporter::ErrorReporter(ErrorReportingClient& client, UncaughtExceptionHooks& hooks,
                             std::string dsn)
    : client_(client), hooks_(hooks), dsn_(std::move(dsn)) {}

ErrorReporter::~ErrorReporter() {
    std::lock_guard lock(mutex_);
    if (!exceptionHandlerInstalled_) {
        return;
    }
    try {
        const UncaughtExceptionHandler current = hooks_.currentHandler();
        const auto* ours = current.target<InstalledHandler>();
        if (ours != nullptr && ours->reporter == this) {
            hooks_.setHandler(previousExceptionHandler_);
        }
    } catch (...) {
        // Nothing sound is left to do while being destroyed.
    }
}

void ErrorReporter::start() noexcept {
    std::lock_guard lock(mutex_);
    if (isStarted()) {
        return;
    }
    try {
        ErrorReportingOptions options;
        options.dsn = dsn_;
        options.debug = false;
        options.sendDefaultPii = true;
        options.enableCrashHandler = true;
        options.enableAppHangTracking = true;
        options.environment = "production";
        options.tracesSampleRate = 1.0;
        client_.start(options);
        started_.store(true, std::memory_order_release);
    } catch (...) {
        // A client that failed to start stays unused; captures keep being dropped.
    }
}

void ErrorReporter::setUser(const std::string& deviceID, const std::string& appVersion,
                            const std::string& appBuild) noexcept {
    if (!isStarted()) {
        return;
    }
    try {
        ReportUser user;
        user.userId = deviceID;
        user.data = {{"app_version", appVersion}, {"app_build", appBuild}};
        client_.setUser(user);
    } catch (...) {
    }
}

void ErrorReporter::installExceptionHandler() noexcept {
    // Held while swapping handlers so that an exception raised meanwhile on another thread
    // waits in handleUncaughtException until the previous handler is known.
    std::lock_guard lock(mutex_);
    if (exceptionHandlerInstalled_) {
        return;
    }
    try {
        UncaughtExceptionHandler previous = hooks_.currentHandler();
        hooks_.setHandler(InstalledHandler{this});
        previousExceptionHandler_ = std::move(previous);
        exceptionHandlerInstalled_ = true;
    } catch (...) {
    }
}

void ErrorReporter::handleUncaughtException(const UncaughtException& exception) noexcept {
    try {
        ValueMap context;
        context["exception_name"] = exception.name;
        context["reason"] = exception.reason.value_or("");
        context["call_stack"] = Value::stringList(exception.callStack);
        if (exception.userInfo && !exception.userInfo->empty()) {
            context["user_info"] = *exception.userInfo;
        }
        capture(uncaughtExceptionMessage, ReportLevel::fatal,
                ReportTags{{"type", "uncaught_exception"}}, std::move(context));
    } catch (...) {
    }

    UncaughtExceptionHandler previous;
    try {
        std::lock_guard lock(mutex_);
        previous = previousExceptionHandler_;
    } catch (...) {
    }
    if (previous) {
        try {
            previous(exception);
        } catch (...) {
        }
    }
}

ScopeConfiguration ErrorReporter::scopeConfiguration(ReportLevel level,
                                                     std::optional<ReportTags> tags,
                                                     ValueMap extras,
                                                     const std::source_location& location) {
    // Written after the caller's extras so that they always win.
    extras.insert_or_assign("source_file", sourceFileName(location.file_name()));
    extras.insert_or_assign("source_line", static_cast<std::int64_t>(location.line()));
    return [level, tags = std::move(tags), extras = std::move(extras)](ReportScope& scope) {
        scope.setLevel(level);
        if (tags) {
            scope.setTags(*tags);
        }
        scope.setExtras(extras);
    };
}

void ErrorReporter::capture(const Error& error, ReportLevel level, std::optional<ReportTags> tags,
                            ValueMap extras, std::source_location location) noexcept {
    if (!isStarted()) {
        return;
    }
    try {
        client_.captureError(
            error, scopeConfiguration(level, std::move(tags), std::move(extras), location));
    } catch (...) {
    }
}

void ErrorReporter::capture(const std::string& message, ReportLevel level,
                            std::optional<ReportTags> tags, ValueMap extras,
                            std::source_location location) noexcept {
    if (!isStarted()) {
        return;
    }
    try {
        client_.captureMessage(
            message, scopeConfiguration(level, std::move(tags), std::move(extras), location));
    } catch (...) {
    }
}

std::string sourceFileName(std::string_view path) {
    const auto slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // A leading dot starts a hidden file's name, not an extension.
    if (const auto dot = name.find_last_of('.'); dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return std::string(name);
}

}  // namespace tovalo
