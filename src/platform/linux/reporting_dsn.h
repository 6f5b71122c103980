#pragma once

// The error-reporting DSN taken apart: "<scheme>://<public key>@<host>/<project>", where the
// key is 32 lower-case hexadecimal characters and the project a decimal number. The reporting
// client derives its upload endpoint from it. A plain value type; parse() is the only way in,
// so a ReportingDsn is always well formed.

#include <optional>
#include <string>
#include <string_view>

namespace tovalo {

struct ReportingDsn {
    std::string scheme;     // "https", or "http" for local test servers
    std::string publicKey;  // 32 lower-case hexadecimal characters
    std::string host;       // host name or IPv4 address, with ":<port>" when the DSN names one
    std::string projectId;  // decimal digits

    // nullopt for anything but the exact shape above (no secret key, no path prefix, no query).
    static std::optional<ReportingDsn> parse(std::string_view text);

    // "<scheme>://<host>/api/<project>/envelope/"
    std::string envelopeEndpoint() const;

    friend bool operator==(const ReportingDsn&, const ReportingDsn&) = default;
};

}  // namespace tovalo
