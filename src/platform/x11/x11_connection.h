#pragma once

// One connection to the X server, shared by the backend's components that work on the main
// thread (the capture service keeps its own). Owns the xcb connection, caches interned atoms
// and turns X errors into values: nothing here throws or aborts on a server error.

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/error.h"

namespace tovalo::x11 {

inline constexpr const char* kX11ErrorDomain = "org.x.X11";

// Replies and events from xcb are malloc'ed and must be freed.
struct FreeDeleter {
    void operator()(void* pointer) const noexcept { std::free(pointer); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// An X protocol error as a value: the error code, the request that failed and its resource.
struct ProtocolError {
    std::uint8_t errorCode = 0;
    std::uint8_t majorOpcode = 0;
    std::uint16_t minorOpcode = 0;
    std::uint32_t resourceID = 0;

    Error toError(const std::string& operation) const;
};

class Connection {
  public:
    // Connects to `displayName` (empty: $DISPLAY). Nullopt-like nullptr with `error` filled when
    // no server answers.
    static std::shared_ptr<Connection> open(const std::string& displayName, Error* error);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_screen_t* screen() const { return screen_; }
    xcb_window_t root() const { return screen_->root; }
    int fileDescriptor() const;
    // True once the connection broke (server gone); every request then fails.
    bool hasFailed() const;

    // Interned atom, cached; XCB_ATOM_NONE when the server cannot answer. Thread-safe.
    xcb_atom_t atom(std::string_view name);
    std::string atomName(xcb_atom_t atom);

    // Waits for the answer of a checked request; nullopt when it succeeded.
    std::optional<ProtocolError> check(xcb_void_cookie_t cookie);
    void flush();

  private:
    Connection(xcb_connection_t* connection, xcb_screen_t* screen);

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    std::mutex atomsMutex_;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
};

}  // namespace tovalo::x11
