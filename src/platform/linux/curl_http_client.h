#pragma once

// The HttpClient of the Linux build, on libcurl's easy interface. Each call uses its own easy
// handle, so one client may serve several threads at once. Redirects are not followed, HTTPS
// peers are verified against the system CA bundle, and every failure comes back as status 0 with
// the reason in `error`; nothing throws. Owned by whoever wires the telemetry clients.

#include "platform/http_client.h"

namespace tovalo {

class CurlHttpClient final : public HttpClient {
  public:
    // Responses longer than this are abandoned rather than buffered without bound.
    static constexpr std::size_t kMaxResponseBytes = 16 * 1024 * 1024;

    CurlHttpClient();

    HttpResponse perform(const HttpRequest& request) override;
};

}  // namespace tovalo
