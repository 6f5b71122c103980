#include "platform/linux/reporting_dsn.h"

#include <algorithm>

namespace tovalo {

namespace {

constexpr std::size_t kPublicKeyLength = 32;
constexpr std::size_t kMaxHostLength = 253;
constexpr std::size_t kMaxLabelLength = 63;
constexpr std::size_t kMaxProjectDigits = 20;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLowerHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f');
}

bool isLabelCharacter(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
}

bool allOf(std::string_view text, bool (*predicate)(char)) {
    return std::all_of(text.begin(), text.end(), predicate);
}

// Dot-separated labels of letters, digits and inner hyphens; an IPv4 address passes too.
bool isHostName(std::string_view host) {
    if (host.empty() || host.size() > kMaxHostLength) {
        return false;
    }
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view label = host.substr(0, dot);
        if (label.empty() || label.size() > kMaxLabelLength || !allOf(label, isLabelCharacter) ||
            label.front() == '-' || label.back() == '-') {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        host.remove_prefix(dot + 1);
    }
}

bool isPort(std::string_view port) {
    if (port.empty() || port.size() > 5 || !allOf(port, isDigit)) {
        return false;
    }
    int value = 0;
    for (char c : port) {
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

}  // namespace

std::optional<ReportingDsn> ReportingDsn::parse(std::string_view text) {
    ReportingDsn dsn;
    constexpr std::string_view kSeparator = "://";
    const std::size_t schemeEnd = text.find(kSeparator);
    if (schemeEnd == std::string_view::npos) {
        return std::nullopt;
    }
    dsn.scheme = std::string(text.substr(0, schemeEnd));
    if (dsn.scheme != "https" && dsn.scheme != "http") {
        return std::nullopt;
    }
    text.remove_prefix(schemeEnd + kSeparator.size());

    const std::size_t at = text.find('@');
    if (at != kPublicKeyLength || !allOf(text.substr(0, at), isLowerHex)) {
        return std::nullopt;
    }
    dsn.publicKey = std::string(text.substr(0, at));
    text.remove_prefix(at + 1);

    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view authority = text.substr(0, slash);
    const std::size_t colon = authority.find(':');
    if (!isHostName(authority.substr(0, colon)) ||
        (colon != std::string_view::npos && !isPort(authority.substr(colon + 1)))) {
        return std::nullopt;
    }
    dsn.host = std::string(authority);

    const std::string_view project = text.substr(slash + 1);
    if (project.empty() || project.size() > kMaxProjectDigits || !allOf(project, isDigit)) {
        return std::nullopt;
    }
    dsn.projectId = std::string(project);
    return dsn;
}

std::string ReportingDsn::envelopeEndpoint() const {
    return scheme + "://" + host + "/api/" + projectId + "/envelope/";
}

}  // namespace tovalo
