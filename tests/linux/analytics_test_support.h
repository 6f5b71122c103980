#pragma once

// Helpers shared by the analytics client tests: a temporary state directory per test, an HTTP
// client that answers from a script, and the uploaded batches read back as values.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/value.h"
#include "platform/http_client.h"
#include "platform/linux/analytics_json.h"
#include "support/temp_dir.h"

namespace tovalo::analytics_testing {

namespace fs = std::filesystem;

using test_support::appendFile;
using test_support::readFile;
using test_support::TempDir;
using test_support::writeFile;

// Answers requests from a FIFO of scripted responses, then 200; records every request and,
// given a clock, when it came.
class ScriptedHttpClient final : public HttpClient {
  public:
    explicit ScriptedHttpClient(const Clock* clock = nullptr) : clock_(clock) {}

    HttpResponse perform(const HttpRequest& request) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (clock_ != nullptr) {
            times_.push_back(clock_->now());
        }
        if (script_.empty()) {
            return HttpResponse{200, "1", ""};
        }
        HttpResponse response = script_.front();
        script_.pop_front();
        return response;
    }

    void enqueue(long status, std::string error = "") {
        std::lock_guard lock(mutex_);
        script_.push_back(HttpResponse{status, "", std::move(error)});
    }

    std::vector<HttpRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t requestCount() const {
        std::lock_guard lock(mutex_);
        return requests_.size();
    }
    std::vector<TimePoint> requestTimes() const {
        std::lock_guard lock(mutex_);
        return times_;
    }

  private:
    const Clock* const clock_;
    mutable std::mutex mutex_;
    std::deque<HttpResponse> script_;
    std::vector<HttpRequest> requests_;
    std::vector<TimePoint> times_;
};

// The records of one uploaded batch; fails the test when the body is not a JSON array.
inline ValueList batchOf(const std::string& body) {
    const auto value = AnalyticsJson::parse(body);
    if (!value || !value->asList()) {
        ADD_FAILURE() << "not a JSON array: " << body.substr(0, 200);
        return {};
    }
    return *value->asList();
}

inline const ValueMap& propertiesOf(const Value& event) {
    static const ValueMap kEmpty;
    const Value* properties = event.find("properties");
    return properties && properties->asMap() ? *properties->asMap() : kEmpty;
}

inline std::string eventName(const Value& event) {
    const Value* name = event.find("event");
    return name && name->asString() ? *name->asString() : std::string();
}

// The event names in the given batches, in upload order.
inline std::vector<std::string> eventNames(const std::vector<std::string>& bodies) {
    std::vector<std::string> names;
    for (const std::string& body : bodies) {
        for (const Value& event : batchOf(body)) {
            names.push_back(eventName(event));
        }
    }
    return names;
}

}  // namespace tovalo::analytics_testing
