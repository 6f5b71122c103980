#pragma once

// Port: the crash and error reporting client. The ErrorReporter facade starts it once, tags
// reports with the installation's identity and files handled errors and messages through it.
// Implementations record crashes, hangs and reports and deliver them to the reporting service;
// every call is safe from any thread and never blocks on the network.

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/value.h"

namespace tovalo {

enum class ReportLevel { debug, info, warning, error, fatal };

// "debug", "info", "warning", "error", "fatal".
const char* reportLevelName(ReportLevel level);

struct ErrorReportingOptions {
    std::string dsn;
    bool debug = false;
    bool sendDefaultPii = false;
    bool enableCrashHandler = false;
    bool enableAppHangTracking = false;
    std::string environment;
    double tracesSampleRate = 0.0;
};

struct ReportUser {
    std::string userId;
    std::optional<std::string> email;
    std::optional<std::string> username;
    ValueMap data;
};

using ReportTags = std::map<std::string, std::string>;

// What one report carries besides its error or message. A capture's configuration callback
// adjusts a copy of the client's current scope; the copy applies to that report only.
class ReportScope {
public:
    void setLevel(ReportLevel level) { level_ = level; }
    void setTags(ReportTags tags) { tags_ = std::move(tags); }
    void setExtras(ValueMap extras) { extras_ = std::move(extras); }

    ReportLevel level() const { return level_; }
    const ReportTags& tags() const { return tags_; }
    const ValueMap& extras() const { return extras_; }

private:
    ReportLevel level_ = ReportLevel::error;
    ReportTags tags_;
    ValueMap extras_;
};

using ScopeConfiguration = std::function<void(ReportScope&)>;

class ErrorReportingClient {
public:
    virtual ~ErrorReportingClient() = default;

    virtual void start(const ErrorReportingOptions& options) = 0;
    virtual void setUser(const ReportUser& user) = 0;
    virtual void captureError(const Error& error, const ScopeConfiguration& configure) = 0;
    virtual void captureMessage(const std::string& message,
                                const ScopeConfiguration& configure) = 0;
};

}  // namespace tovalo
