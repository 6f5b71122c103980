#include "platform/linux/telemetry_config.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "platform/linux/reporting_dsn.h"
#include "platform/posix/atomic_file.h"

namespace tovalo {

namespace {

// Placeholders of the documented shapes on our own domain; deployments override them.
constexpr const char* kBuiltInDsn =
    "https://3f9c2a7d1e5b48c6a0d4f7e2b9c1a853@o4508123456789012.ingest.tovalo.app/"
    "450812345678901234";
constexpr const char* kBuiltInAnalyticsToken = "8e41b7c9d2a05f36e1c4b9a7d3f08e62";
constexpr const char* kBuiltInAnalyticsServerUrl = "https://analytics.tovalo.app";

// A configuration file is a few hundred bytes; anything far larger is not one.
constexpr std::streamoff kMaxFileBytes = 64 * 1024;

std::string trimmedCopy(std::string_view text) {
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::string withoutTrailingSlashes(std::string url) {
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    return url;
}

// One value from a layer, applied only when valid.
void overlay(TelemetryConfig& config, std::string_view key, const std::string& rawValue) {
    const std::string value = trimmedCopy(rawValue);
    if (key == "errorReportingDsn") {
        if (ReportingDsn::parse(value)) {
            config.errorReportingDsn = value;
        }
    } else if (key == "errorReportingEndpoint") {
        if (TelemetryConfig::isWebUrl(value)) {
            config.errorReportingEndpointOverride = value;
        }
    } else if (key == "analyticsToken") {
        if (TelemetryConfig::isAnalyticsToken(value)) {
            config.analyticsToken = value;
        }
    } else if (key == "analyticsServerUrl") {
        // The host must survive the slash trimming, so "https:///" stays invalid.
        std::string url = withoutTrailingSlashes(value);
        if (TelemetryConfig::isWebUrl(url)) {
            config.analyticsServerUrl = std::move(url);
        }
    }
}

// A FIFO or device in place of the file must not hang start-up: read only regular files.
std::optional<std::string> readSmallFile(const std::string& path) {
    auto result = readWholeFile(path, static_cast<std::size_t>(kMaxFileBytes));
    if (result.status != FileReadStatus::read) {
        return std::nullopt;
    }
    return std::move(result.contents);
}

void overlayFile(TelemetryConfig& config, const std::string& configDir) {
    if (configDir.empty()) {
        return;
    }
    std::optional<std::string> text =
        readSmallFile(configDir + "/" + std::string(TelemetryConfig::kFileName));
    if (!text) {
        return;
    }
    const nlohmann::json document =
        nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (!document.is_object()) {
        return;  // corrupt JSON parses as "discarded", which is not an object either
    }
    for (const auto& [key, value] : document.items()) {
        if (value.is_string()) {
            overlay(config, key, value.get_ref<const std::string&>());
        }
    }
}

void overlayEnvironment(TelemetryConfig& config, const TelemetryConfig::EnvironmentLookup& env) {
    if (!env) {
        return;
    }
    constexpr std::pair<const char*, std::string_view> kVariables[] = {
        {"TOVALO_ERROR_REPORTING_DSN", "errorReportingDsn"},
        {"TOVALO_ERROR_REPORTING_ENDPOINT", "errorReportingEndpoint"},
        {"TOVALO_ANALYTICS_TOKEN", "analyticsToken"},
        {"TOVALO_ANALYTICS_SERVER_URL", "analyticsServerUrl"},
    };
    for (const auto& [variable, key] : kVariables) {
        if (std::optional<std::string> value = env(variable)) {
            overlay(config, key, *value);
        }
    }
}

}  // namespace

TelemetryConfig TelemetryConfig::builtIn() {
    TelemetryConfig config;
    config.errorReportingDsn = kBuiltInDsn;
    config.analyticsToken = kBuiltInAnalyticsToken;
    config.analyticsServerUrl = kBuiltInAnalyticsServerUrl;
    return config;
}

TelemetryConfig TelemetryConfig::load(const std::string& configDir, const EnvironmentLookup& env) {
    TelemetryConfig config = builtIn();
    // A configuration problem must never stop the program; the built-in layer stands instead.
    try {
        overlayFile(config, configDir);
    } catch (...) {
    }
    try {
        overlayEnvironment(config, env);
    } catch (...) {
    }
    return config;
}

std::string TelemetryConfig::errorReportingEndpoint() const {
    if (errorReportingEndpointOverride) {
        return *errorReportingEndpointOverride;
    }
    if (std::optional<ReportingDsn> dsn = ReportingDsn::parse(errorReportingDsn)) {
        return dsn->envelopeEndpoint();
    }
    return {};
}

bool TelemetryConfig::isAnalyticsToken(std::string_view text) {
    return text.size() == 32 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool TelemetryConfig::isWebUrl(std::string_view text) {
    std::string_view rest;
    if (text.starts_with("https://")) {
        rest = text.substr(8);
    } else if (text.starts_with("http://")) {
        rest = text.substr(7);
    } else {
        return false;
    }
    const std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
    const bool hasControlOrSpace = std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f;
    });
    return !host.empty() && host.front() != ':' && host.find('@') == std::string_view::npos &&
           !hasControlOrSpace;
}

}  // namespace tovalo
