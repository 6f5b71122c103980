#include "platform/x11/x11_connection.h"

#include <cstdio>
#include <string>

namespace tovalo::x11 {

Error ProtocolError::toError(const std::string& operation) const {
    return Error{kX11ErrorDomain, errorCode,
                 operation + " failed: X error " + std::to_string(errorCode) + " (request " +
                     std::to_string(majorOpcode) + "." + std::to_string(minorOpcode) +
                     ", resource 0x" +
                     [this] {
                         char buffer[16];
                         std::snprintf(buffer, sizeof buffer, "%x", resourceID);
                         return std::string(buffer);
                     }() +
                     ")"};
}

std::shared_ptr<Connection> Connection::open(const std::string& displayName, Error* error) {
    int screenNumber = 0;
    xcb_connection_t* connection =
        xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        if (error) {
            *error = Error{kX11ErrorDomain, 1,
                           "cannot connect to the X server" +
                               (displayName.empty() ? std::string() : " " + displayName)};
        }
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    if (it.rem == 0 || it.data == nullptr) {
        xcb_disconnect(connection);
        if (error) {
            *error = Error{kX11ErrorDomain, 2,
                           "the X server has no screen " + std::to_string(screenNumber)};
        }
        return nullptr;
    }
    return std::shared_ptr<Connection>(new Connection(connection, it.data));
}

Connection::Connection(xcb_connection_t* connection, xcb_screen_t* screen)
    : connection_(connection), screen_(screen) {}

Connection::~Connection() {
    xcb_disconnect(connection_);
}

int Connection::fileDescriptor() const {
    return xcb_get_file_descriptor(connection_);
}

bool Connection::hasFailed() const {
    return xcb_connection_has_error(connection_) != 0;
}

xcb_atom_t Connection::atom(std::string_view name) {
    std::string key(name);
    {
        std::lock_guard lock(atomsMutex_);
        if (auto found = atoms_.find(key); found != atoms_.end()) {
            return found->second;
        }
    }
    auto cookie =
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(key.size()), key.data());
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
    if (!reply) {
        return XCB_ATOM_NONE;
    }
    std::lock_guard lock(atomsMutex_);
    atoms_.emplace(std::move(key), reply->atom);
    return reply->atom;
}

std::string Connection::atomName(xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
    if (!reply) {
        return {};
    }
    return std::string(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

std::optional<ProtocolError> Connection::check(xcb_void_cookie_t cookie) {
    Reply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
    if (!error) {
        return std::nullopt;
    }
    return ProtocolError{error->error_code, error->major_code, error->minor_code,
                         error->resource_id};
}

void Connection::flush() {
    xcb_flush(connection_);
}

}  // namespace tovalo::x11
