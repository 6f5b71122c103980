#include "platform/linux/curl_http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "support/local_http_server.h"

namespace tovalo {
namespace {

using testing::LocalHttpServer;
using testing::RecordedRequest;
using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr std::chrono::milliseconds kServerWait{5000};

struct RoundTripCase {
    const char* name;
    std::string method;
    std::string target;
    Headers headers;
    std::string body;
    int status;
    std::string responseBody;
};

TEST(CurlHttpClientTest, RoundTripsRequestsAndResponsesThroughTheLocalServer) {
    const RoundTripCase cases[] = {
        {"json post",
         "POST",
         "/api/42/envelope/",
         {{"Content-Type", "application/x-tovalo-envelope"}, {"X-Auth", "key=abc, client=t/1"}},
         "{\"event_id\":\"0f\"}\n{\"type\":\"event\"}\n",
         200,
         "{\"id\":\"0f\"}"},
        {"query string and created", "PUT", "/track?ip=0&verbose=1", {}, "[1,2]", 201, "ok"},
        {"get without body",
         "GET",
         "/config",
         {{"Accept", "application/json"}},
         "",
         200,
         "{\"a\":1}"},
        {"client error keeps its status and body", "POST", "/x", {}, "{}", 400, "bad payload"},
        {"server error is a response, not a failure", "POST", "/x", {}, "{}", 503, "later"},
        {"redirect is not followed", "GET", "/moved", {}, "", 302, ""},
        {"empty post", "POST", "/empty", {}, "", 204, ""},
        {"delete", "DELETE", "/items/7", {}, "", 200, "{}"},
        {"chunked upload is decoded",
         "POST",
         "/stream",
         {{"Transfer-Encoding", "chunked"}},
         std::string(70 * 1024, 'c'),
         200,
         "{}"},
        // Large enough that libcurl would otherwise negotiate "100 Continue".
        {"large binary body",
         "POST",
         "/big",
         {},
         std::string(300 * 1024, '\0') + "tail",
         200,
         "{}"},
    };
    CurlHttpClient client;
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        LocalHttpServer server;
        server.enqueueResponse(c.status, c.responseBody);

        HttpRequest request;
        request.method = c.method;
        request.url = server.url(c.target);
        request.headers = c.headers;
        request.body = c.body;
        request.timeout = seconds(10);
        const HttpResponse response = client.perform(request);

        EXPECT_EQ(response.status, c.status) << response.error;
        EXPECT_EQ(response.body, c.status == 204 ? "" : c.responseBody);
        EXPECT_TRUE(response.error.empty()) << response.error;
        const std::vector<RecordedRequest> seen = server.requests();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].method, c.method);
        EXPECT_EQ(seen[0].target, c.target);
        EXPECT_EQ(seen[0].body, c.body);
        for (const auto& [name, value] : c.headers) {
            EXPECT_EQ(seen[0].header(name), value) << name;
        }
    }
}

TEST(CurlHttpClientTest, AHeaderWithAnEmptyValueIsSentEmpty) {
    LocalHttpServer server;
    CurlHttpClient client;
    HttpRequest request;
    request.url = server.url("/");
    request.headers = {{"X-Empty", ""}};
    ASSERT_EQ(client.perform(request).status, 200);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("x-empty"), "");
}

TEST(CurlHttpClientTest, RefusedConnectionIsStatusZeroWithAnError) {
    LocalHttpServer server;
    const std::string url = server.url("/api/1/envelope/");
    server.stop();

    HttpRequest request;
    request.url = url;
    request.body = "{}";
    const HttpResponse response = CurlHttpClient().perform(request);

    EXPECT_EQ(response.status, 0);
    EXPECT_FALSE(response.error.empty());
    EXPECT_TRUE(response.isRetryable());
}

TEST(CurlHttpClientTest, LocalServerKeepsServingAfterAClientGivesUpMidRequest) {
    LocalHttpServer server;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(server.port());
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        const std::string partial = "POST /cut HTTP/1.1\r\nContent-Length: 100\r\n\r\nonly";
        ASSERT_EQ(::send(fd, partial.data(), partial.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(partial.size()));
        ::close(fd);
    }
    HttpRequest request;
    request.url = server.url("/after");
    request.timeout = seconds(10);
    EXPECT_EQ(CurlHttpClient().perform(request).status, 200);
    const std::vector<RecordedRequest> seen = server.requests();
    ASSERT_EQ(seen.size(), 1u);  // the cut-off request is not recorded
    EXPECT_EQ(seen[0].target, "/after");
}

// A listening socket nobody reads from: the kernel completes the connection, the request goes
// out, and no answer ever comes back.
class SilentListener {
  public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        ::listen(fd_, 8);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

TEST(CurlHttpClientTest, AServerThatNeverAnswersTimesOut) {
    SilentListener silent;
    HttpRequest request;
    request.url = silent.url();
    request.body = "{}";
    request.timeout = milliseconds(200);  // a real network time-out, kept short
    const HttpResponse response = CurlHttpClient().perform(request);

    EXPECT_EQ(response.status, 0);
    EXPECT_NE(response.error.find("timed out"), std::string::npos) << response.error;
}

TEST(CurlHttpClientTest, RejectsRequestsItMustNotSendWithoutContactingTheServer) {
    LocalHttpServer server;
    struct Case {
        const char* name;
        std::string method;
        std::string url;
        Headers headers;
    };
    const Case cases[] = {
        {"header injection", "POST", server.url("/"), {{"X-A", "1\r\nX-Injected: 2"}}},
        {"header name with a space", "POST", server.url("/"), {{"Bad Name", "1"}}},
        {"method with a space", "PO ST", server.url("/"), {}},
        {"empty method", "", server.url("/"), {}},
        {"file scheme", "GET", "file:///etc/hostname", {}},
        {"ftp scheme", "GET", "ftp://127.0.0.1:" + std::to_string(server.port()) + "/", {}},
        {"not a url", "GET", "::::", {}},
        {"empty url", "GET", "", {}},
    };
    CurlHttpClient client;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpRequest request;
        request.method = c.method;
        request.url = c.url;
        request.headers = c.headers;
        request.timeout = seconds(5);
        const HttpResponse response = client.perform(request);
        EXPECT_EQ(response.status, 0);
        EXPECT_FALSE(response.error.empty());
        EXPECT_TRUE(response.body.empty());
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(CurlHttpClientTest, ServesSeveralThreadsAtOnce) {
    constexpr int kThreads = 6;
    constexpr int kRequestsEach = 5;
    LocalHttpServer server;
    CurlHttpClient client;
    std::vector<int> successes(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRequestsEach; ++i) {
                HttpRequest request;
                request.url = server.url("/t" + std::to_string(t));
                request.body = std::to_string(i);
                request.timeout = seconds(10);
                if (client.perform(request).status == 200) {
                    ++successes[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int count : successes) {
        EXPECT_EQ(count, kRequestsEach);
    }
    EXPECT_TRUE(server.waitForRequests(kThreads * kRequestsEach, kServerWait));
}

}  // namespace
}  // namespace tovalo
