#include "platform/linux/curl_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace tovalo {

namespace {

// A function-local static runs curl_global_init exactly once, even with racing first callers.
CURLcode globalInitResult() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result;
}

// Loopback traffic never goes through a proxy, whatever the environment names; the user's own
// exceptions are kept because setting the option replaces them.
const std::string& noProxyList() {
    static const std::string list = [] {
        const char* fromEnvironment = std::getenv("no_proxy");
        if (fromEnvironment == nullptr || *fromEnvironment == '\0') {
            fromEnvironment = std::getenv("NO_PROXY");
        }
        std::string value = fromEnvironment != nullptr ? fromEnvironment : "";
        if (value == "*") {
            return value;
        }
        return value + (value.empty() ? "" : ",") + "localhost,127.0.0.1,::1";
    }();
    return list;
}

bool isTokenCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenCharacter);
}

// CR, LF or NUL in a value would let one header smuggle in others.
bool isSafeHeaderValue(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

long timeoutMilliseconds(Duration timeout) {
    // Zero means "no limit" to libcurl, so anything shorter than a millisecond becomes one.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    return static_cast<long>(std::clamp<std::int64_t>(ms, 1, std::numeric_limits<long>::max()));
}

struct ResponseSink {
    std::string body;
    bool overflowed = false;
};

// Called by libcurl; must not let an exception escape into C code.
std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto* sink = static_cast<ResponseSink*>(user);
    const std::size_t bytes = size * count;
    if (bytes > CurlHttpClient::kMaxResponseBytes - sink->body.size()) {
        sink->overflowed = true;
        return 0;  // makes libcurl abort the transfer
    }
    try {
        sink->body.append(data, bytes);
    } catch (...) {
        sink->overflowed = true;
        return 0;
    }
    return bytes;
}

HttpResponse failure(std::string error) {
    HttpResponse response;
    response.error = std::move(error);
    return response;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

HttpResponse performWithCurl(const HttpRequest& request) {
    if (CURLcode init = globalInitResult(); init != CURLE_OK) {
        return failure(std::string("libcurl initialisation failed: ") + curl_easy_strerror(init));
    }
    if (!isToken(request.method)) {
        return failure("invalid HTTP method \"" + request.method + "\"");
    }

    std::unique_ptr<curl_slist, ListDeleter> headers;
    bool callerSetExpect = false;
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || !isSafeHeaderValue(value)) {
            return failure("invalid HTTP header \"" + name + "\"");
        }
        callerSetExpect = callerSetExpect || curl_strequal(name.c_str(), "Expect") != 0;
        // "Name;" is libcurl's way of sending a header whose value is empty.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        curl_slist* appended = curl_slist_append(headers.get(), line.c_str());
        if (appended == nullptr) {
            return failure("out of memory building HTTP headers");
        }
        headers.release();
        headers.reset(appended);
    }
    if (!callerSetExpect) {
        // Skips the "100 Continue" round trip libcurl would otherwise wait for on larger bodies.
        curl_slist* appended = curl_slist_append(headers.get(), "Expect:");
        if (appended == nullptr) {
            return failure("out of memory building HTTP headers");
        }
        headers.release();
        headers.reset(appended);
    }

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        return failure("libcurl could not create a transfer handle");
    }
    CURL* handle = easy.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    ResponseSink sink;
    const long timeout = timeoutMilliseconds(request.timeout);

    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_URL, request.url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(handle, CURLOPT_NOPROXY, noProxyList().c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);

    if (request.method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    } else if (request.method == "GET" && request.body.empty()) {
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    } else {
        if (request.method != "POST") {
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        if (request.method == "POST" || !request.body.empty()) {
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.data());
        }
    }

    const CURLcode result = curl_easy_perform(handle);
    if (sink.overflowed) {
        return failure("response body larger than " +
                       std::to_string(CurlHttpClient::kMaxResponseBytes) + " bytes");
    }
    if (result != CURLE_OK) {
        const std::string detail =
            errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
        return failure("curl error " + std::to_string(static_cast<int>(result)) + ": " + detail);
    }
    HttpResponse response;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(sink.body);
    return response;
}

}  // namespace

CurlHttpClient::CurlHttpClient() {
    // Initialising here keeps the one-time set-up off the first background request when possible.
    globalInitResult();
}

HttpResponse CurlHttpClient::perform(const HttpRequest& request) {
    try {
        return performWithCurl(request);
    } catch (const std::exception& exception) {
        return failure(std::string("HTTP request failed: ") + exception.what());
    } catch (...) {
        return failure("HTTP request failed");
    }
}

}  // namespace tovalo
