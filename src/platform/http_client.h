#pragma once

// Port: HTTP requests for the telemetry clients. `perform` blocks its caller until the
// response or the time-out, so callers run it on a background queue of their own.

#include <string>
#include <utility>
#include <vector>

#include "base/clock.h"

namespace tovalo {

struct HttpRequest {
    std::string method = "POST";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    Duration timeout = seconds(30);
};

struct HttpResponse {
    // 0 when no response arrived (refused, unreachable, timed out, TLS failure); `error` says why.
    long status = 0;
    std::string body;
    std::string error;

    bool isSuccess() const { return status >= 200 && status < 300; }
    // Worth trying again later: no response, too many requests, or a server-side failure.
    bool isRetryable() const { return status == 0 || status == 408 || status == 429 || status >= 500; }
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual HttpResponse perform(const HttpRequest& request) = 0;
};

}  // namespace tovalo
