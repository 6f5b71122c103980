#include "support/local_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace tovalo::testing {

namespace {

// A client silent for this long is dropped, so a stuck client cannot hold up the server.
constexpr std::chrono::seconds kIdleLimit{10};
constexpr std::size_t kMaxLineLength = 64 * 1024;
constexpr std::size_t kMaxHeaderCount = 200;
constexpr std::size_t kMaxBodyLength = 256 * 1024 * 1024;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool containsIgnoringCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (equalsIgnoringCase(text.substr(i, word.size()), word)) {
            return true;
        }
    }
    return false;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::size_t> parseNumber(std::string_view text, int base) {
    if (text.empty() || text.size() > 15) {
        return std::nullopt;
    }
    std::size_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && lower(c) >= 'a' && lower(c) <= 'f') {
            digit = lower(c) - 'a' + 10;
        }
        if (digit < 0 || digit >= base) {
            return std::nullopt;
        }
        value = value * static_cast<std::size_t>(base) + static_cast<std::size_t>(digit);
    }
    return value;
}

const char* reasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 202:
            return "Accepted";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

void closeIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Non-blocking I/O on one accepted connection. Every wait also watches the server's wake pipe,
// so stop() interrupts a connection at once whatever the client does.
class Connection {
  public:
    Connection(int fd, int wake) : fd_(fd), wake_(wake) {}

    // One line without its CRLF (a bare LF is accepted too); nullopt when the client went away,
    // stalled, or sent a line longer than the limit.
    std::optional<std::string> readLine() {
        for (;;) {
            std::size_t end = buffer_.find('\n', position_);
            if (end != std::string::npos) {
                std::string line = buffer_.substr(position_, end - position_);
                position_ = end + 1;
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                return line;
            }
            if (buffer_.size() - position_ > kMaxLineLength || !fill()) {
                return std::nullopt;
            }
        }
    }

    std::optional<std::string> readExactly(std::size_t count) {
        while (buffer_.size() - position_ < count) {
            if (!fill()) {
                return std::nullopt;
            }
        }
        std::string data = buffer_.substr(position_, count);
        position_ += count;
        return data;
    }

    bool writeAll(std::string_view data) {
        while (!data.empty()) {
            ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                data.remove_prefix(static_cast<std::size_t>(sent));
            } else if (sent < 0 && errno == EINTR) {
                continue;
            } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitFor(POLLOUT)) {
                    return false;
                }
            } else {
                return false;
            }
        }
        return true;
    }

  private:
    bool fill() {
        if (position_ > 0 && position_ == buffer_.size()) {
            buffer_.clear();
            position_ = 0;
        }
        char chunk[16 * 1024];
        for (;;) {
            ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
            if (received > 0) {
                buffer_.append(chunk, static_cast<std::size_t>(received));
                return true;
            }
            if (received == 0) {
                return false;  // the client closed its side
            }
            if (errno == EINTR) {
                continue;
            }
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitFor(POLLIN)) {
                return false;
            }
        }
    }

    bool waitFor(short events) {
        pollfd fds[2] = {{fd_, events, 0}, {wake_, POLLIN, 0}};
        for (;;) {
            int ready =
                ::poll(fds, 2, static_cast<int>(std::chrono::milliseconds(kIdleLimit).count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0 || fds[1].revents != 0) {
                return false;  // stalled, failed, or the server is stopping
            }
            return true;  // readiness or an error; the next call on the socket tells which
        }
    }

    int fd_;
    int wake_;
    std::string buffer_;
    std::size_t position_ = 0;
};

// Reads the chunked transfer coding: hex sizes (extensions ignored), data, then trailers.
std::optional<std::string> readChunkedBody(Connection& connection) {
    std::string body;
    for (;;) {
        std::optional<std::string> sizeLine = connection.readLine();
        if (!sizeLine) {
            return std::nullopt;
        }
        std::string_view sizeText = *sizeLine;
        sizeText = trimmed(sizeText.substr(0, sizeText.find(';')));
        std::optional<std::size_t> size = parseNumber(sizeText, 16);
        if (!size || body.size() + *size > kMaxBodyLength) {
            return std::nullopt;
        }
        if (*size == 0) {
            break;
        }
        std::optional<std::string> data = connection.readExactly(*size);
        std::optional<std::string> end = data ? connection.readLine() : std::nullopt;
        if (!end || !end->empty()) {
            return std::nullopt;
        }
        body += *data;
    }
    for (std::size_t count = 0; count < kMaxHeaderCount; ++count) {
        std::optional<std::string> trailer = connection.readLine();
        if (!trailer) {
            return std::nullopt;
        }
        if (trailer->empty()) {
            return body;
        }
    }
    return std::nullopt;
}

enum class ReadOutcome { Complete, Malformed, Gone };

ReadOutcome readRequest(Connection& connection, RecordedRequest& request) {
    std::optional<std::string> requestLine = connection.readLine();
    if (!requestLine) {
        return ReadOutcome::Gone;
    }
    std::size_t firstSpace = requestLine->find(' ');
    std::size_t lastSpace = requestLine->rfind(' ');
    if (firstSpace == std::string::npos || firstSpace == lastSpace ||
        requestLine->compare(lastSpace + 1, 7, "HTTP/1.") != 0) {
        return ReadOutcome::Malformed;
    }
    request.method = requestLine->substr(0, firstSpace);
    request.target = requestLine->substr(firstSpace + 1, lastSpace - firstSpace - 1);

    for (;;) {
        std::optional<std::string> line = connection.readLine();
        if (!line) {
            return ReadOutcome::Gone;
        }
        if (line->empty()) {
            break;
        }
        std::size_t colon = line->find(':');
        if (colon == std::string::npos || colon == 0 || request.headers.size() >= kMaxHeaderCount) {
            return ReadOutcome::Malformed;
        }
        std::string_view view = *line;
        request.headers.emplace_back(std::string(trimmed(view.substr(0, colon))),
                                     std::string(trimmed(view.substr(colon + 1))));
    }

    if (auto expect = request.header("Expect");
        expect && equalsIgnoringCase(*expect, "100-continue")) {
        // Without this interim answer a client waits a while before sending the body.
        if (!connection.writeAll("HTTP/1.1 100 Continue\r\n\r\n")) {
            return ReadOutcome::Gone;
        }
    }

    if (auto coding = request.header("Transfer-Encoding");
        coding && containsIgnoringCase(*coding, "chunked")) {
        std::optional<std::string> body = readChunkedBody(connection);
        if (!body) {
            return ReadOutcome::Gone;
        }
        request.body = std::move(*body);
    } else if (auto length = request.header("Content-Length")) {
        std::optional<std::size_t> size = parseNumber(*length, 10);
        if (!size || *size > kMaxBodyLength) {
            return ReadOutcome::Malformed;
        }
        std::optional<std::string> body = connection.readExactly(*size);
        if (!body) {
            return ReadOutcome::Gone;
        }
        request.body = std::move(*body);
    }
    return ReadOutcome::Complete;
}

std::string formatResponse(int status, const std::string& body, bool headRequest) {
    // These statuses carry no body, nor a length for one.
    bool bodiless = status == 204 || status == 304 || (status >= 100 && status < 200);
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    if (!bodiless) {
        text += "Content-Type: application/json\r\n";
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    text += "Connection: close\r\n\r\n";
    if (!bodiless && !headRequest) {
        text += body;
    }
    return text;
}

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoringCase(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

LocalHttpServer::LocalHttpServer() {
    auto fail = [this](const char* what) {
        int error = errno;
        closeIfOpen(listener_);
        closeIfOpen(wakeRead_);
        closeIfOpen(wakeWrite_);
        throw std::system_error(error, std::generic_category(), what);
    };

    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        fail("LocalHttpServer: socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        fail("LocalHttpServer: bind");
    }
    if (::listen(listener_, 128) != 0) {
        fail("LocalHttpServer: listen");
    }
    if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("LocalHttpServer: getsockname");
    }
    port_ = ntohs(address.sin_port);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        fail("LocalHttpServer: pipe");
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];

    thread_ = std::thread([this] { serve(); });
}

LocalHttpServer::~LocalHttpServer() {
    stop();
}

std::string LocalHttpServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void LocalHttpServer::setDefaultResponse(int status, std::string body) {
    std::lock_guard lock(mutex_);
    defaultResponse_ = Response{status, std::move(body)};
}

void LocalHttpServer::enqueueResponse(int status, std::string body) {
    std::lock_guard lock(mutex_);
    queued_.push_back(Response{status, std::move(body)});
}

std::vector<RecordedRequest> LocalHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LocalHttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void LocalHttpServer::stop() {
    std::lock_guard lock(stopMutex_);
    if (stopped_) {
        return;
    }
    stopped_ = true;
    // The pipe is never drained, so every later poll of the server thread sees it too.
    char byte = 1;
    while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    // Closed only after the join, so the thread never polls a descriptor number reused elsewhere.
    closeIfOpen(listener_);
    closeIfOpen(wakeRead_);
    closeIfOpen(wakeWrite_);
}

void LocalHttpServer::serve() {
    pollfd fds[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    for (;;) {
        int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (connection < 0) {
            continue;  // the client gave up before we took it, or a transient shortage
        }
        handleConnection(connection);
        ::close(connection);
    }
}

void LocalHttpServer::handleConnection(int fd) {
    Connection connection(fd, wakeRead_);
    RecordedRequest request;
    switch (readRequest(connection, request)) {
        case ReadOutcome::Gone:
            return;
        case ReadOutcome::Malformed:
            connection.writeAll(formatResponse(400, "", false));
            ::shutdown(fd, SHUT_WR);
            return;
        case ReadOutcome::Complete:
            break;
    }

    bool headRequest = request.method == "HEAD";
    Response response;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
        if (queued_.empty()) {
            response = defaultResponse_;
        } else {
            response = std::move(queued_.front());
            queued_.pop_front();
        }
    }
    requestArrived_.notify_all();
    connection.writeAll(formatResponse(response.status, response.body, headRequest));
    ::shutdown(fd, SHUT_WR);
}

}  // namespace tovalo::testing
