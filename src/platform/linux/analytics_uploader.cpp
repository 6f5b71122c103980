#include "platform/linux/analytics_uploader.h"

#include <algorithm>

namespace tovalo {

AnalyticsUploader::Result AnalyticsUploader::upload(const std::string& serverUrl, Endpoint endpoint,
                                                    const std::vector<std::string>& records,
                                                    Duration timeout) {
    HttpRequest request;
    request.method = "POST";
    request.url = endpointUrl(serverUrl, endpoint);
    request.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
    request.timeout = timeout;
    std::size_t size = 2;
    for (const std::string& record : records) {
        size += record.size() + 1;
    }
    request.body.reserve(size);
    request.body += '[';
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i > 0) {
            request.body += ',';
        }
        request.body += records[i];
    }
    request.body += ']';

    std::lock_guard lock(mutex_);
    if (closed_) {
        return Result{Outcome::retryLater, 0, "closed"};
    }
    const HttpResponse response = http_.perform(request);
    Result result;
    result.status = response.status;
    result.error = response.error;
    result.outcome = response.isSuccess()     ? Outcome::delivered
                     : response.isRetryable() ? Outcome::retryLater
                                              : Outcome::refused;
    return result;
}

void AnalyticsUploader::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

std::string AnalyticsUploader::endpointUrl(const std::string& serverUrl, Endpoint endpoint) {
    std::string url = serverUrl;
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    url += endpoint == Endpoint::events ? "/track" : "/engage";
    return url;
}

Duration AnalyticsUploader::retryDelay(int consecutiveFailures, Duration initial,
                                       Duration maximum) {
    Duration delay = initial;
    for (int i = 1; i < consecutiveFailures && delay < maximum; ++i) {
        delay *= 2;
    }
    return std::min(delay, maximum);
}

}  // namespace tovalo
