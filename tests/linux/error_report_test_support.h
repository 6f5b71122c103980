#pragma once

// Helpers shared by the error reporting tests: a temporary directory per test, an HTTP client
// that answers from a script, and the parts of an uploaded envelope.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/http_client.h"
#include "support/temp_dir.h"

namespace tovalo::error_report_testing {

namespace fs = std::filesystem;
using Json = nlohmann::json;

using test_support::filesIn;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

// Answers requests from a FIFO of scripted responses, then with `fallback`; records requests.
class ScriptedHttpClient final : public HttpClient {
  public:
    HttpResponse perform(const HttpRequest& request) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (script_.empty()) {
            return fallback_;
        }
        HttpResponse response = script_.front();
        script_.pop_front();
        return response;
    }

    void respond(long status) {
        std::lock_guard lock(mutex_);
        script_.push_back(response(status));
    }
    void setFallback(long status) {
        std::lock_guard lock(mutex_);
        fallback_ = response(status);
    }
    std::vector<HttpRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    static HttpResponse response(long status) {
        HttpResponse r;
        r.status = status;
        if (status == 0) {
            r.error = "connection refused";
        }
        return r;
    }

    mutable std::mutex mutex_;
    std::deque<HttpResponse> script_;
    HttpResponse fallback_ = response(200);
    std::vector<HttpRequest> requests_;
};

// The three lines of an envelope, parsed; empty objects when the body has another shape.
struct ParsedEnvelope {
    Json header;
    Json item;
    Json event;
    std::string payload;
    std::size_t lineCount = 0;
};

inline ParsedEnvelope parseEnvelope(const std::string& body) {
    ParsedEnvelope parsed;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= body.size()) {
        const auto end = body.find('\n', start);
        lines.push_back(body.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    parsed.lineCount = lines.size();
    if (lines.size() == 3) {
        parsed.header = Json::parse(lines[0], nullptr, false);
        parsed.item = Json::parse(lines[1], nullptr, false);
        parsed.event = Json::parse(lines[2], nullptr, false);
        parsed.payload = lines[2];
    }
    return parsed;
}

}  // namespace tovalo::error_report_testing
