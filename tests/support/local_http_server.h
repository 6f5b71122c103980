#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests that drive real HTTP clients. It binds an
// ephemeral port, serves one request per connection on its own thread, records every request
// it fully received and answers from a FIFO of one-shot responses, then from a default one.
// Owned by the test that starts it; every member is safe to call from any thread.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tovalo::testing {

struct RecordedRequest {
    std::string method;
    std::string target;  // path and query as sent, e.g. "/api/42/envelope/"
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // decoded: chunked transfer coding already removed

    // The first header of that name, compared case-insensitively.
    std::optional<std::string> header(std::string_view name) const;
};

class LocalHttpServer {
  public:
    // Starts serving at once; throws std::system_error when no socket can be bound.
    LocalHttpServer();
    ~LocalHttpServer();

    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port><path>"
    std::string url(std::string_view path = "/") const;

    // Answer used when no one-shot response is queued; initially 200 with "{}".
    void setDefaultResponse(int status, std::string body = "");
    // One-shot answers, used first, in the order queued.
    void enqueueResponse(int status, std::string body = "");

    std::vector<RecordedRequest> requests() const;
    // Blocks (real time) until at least `count` requests arrived; false on time-out.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

    // Closes the listening socket and joins the server thread: later connections are refused.
    // Idempotent.
    void stop();

  private:
    struct Response {
        int status = 200;
        std::string body;
    };

    void serve();
    void handleConnection(int connection);

    int listener_ = -1;
    int wakeRead_ = -1;  // readable once stop() was called; wakes every poll of the server
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex stopMutex_;  // serialises stop() callers
    bool stopped_ = false;  // guarded by stopMutex_

    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    Response defaultResponse_{200, "{}"};
    std::deque<Response> queued_;
    std::vector<RecordedRequest> requests_;
};

}  // namespace tovalo::testing
