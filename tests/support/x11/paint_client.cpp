// tovalo_paint_client: a tiny X client for the capture tests. Maps one window of a given size
// and title and fills it with one solid colour (the window background, so the server repaints
// it by itself). The colour changes on each line read from standard input, or on a timer.
//
//   tovalo_paint_client [--size WxH] [--position X,Y] [--title T] [--color RRGGBB]
//                       [--interval-ms N]
//
// Input lines: "color RRGGBB" paints that colour, "next" (or an empty line) the next colour of
// a fixed sequence, "withdraw" unmaps the window as a client withdrawing it does, "map" maps it
// again, "exit" ends the client. After the first paint and after every line the client sets
// the root window property _TOVALO_PAINT_ACK_<pid> (CARDINAL) to the number of lines handled
// plus one; the server handles it after the paint, so a test that sees the number knows the
// pixels are there.

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::uint16_t width = 320;
    std::uint16_t height = 240;
    std::int16_t x = 0;
    std::int16_t y = 0;
    bool hasPosition = false;
    std::string title = "tovalo paint client";
    std::uint32_t color = 0x336699;
    int intervalMs = 0;
};

// A fixed, well spread sequence of opaque colours.
std::uint32_t sequenceColor(std::uint32_t index) {
    return ((index + 1) * 0x9E3779B1u >> 8) & 0xFFFFFFu;
}

xcb_atom_t intern(xcb_connection_t* connection, const std::string& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.c_str()),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        unsigned a = 0;
        int b = 0;
        int c = 0;
        if (flag == "--size" && std::sscanf(value, "%ux", &a) == 1) {
            unsigned h = 0;
            if (std::sscanf(value, "%ux%u", &a, &h) != 2) {
                return false;
            }
            options.width = static_cast<std::uint16_t>(a);
            options.height = static_cast<std::uint16_t>(h);
        } else if (flag == "--position" && std::sscanf(value, "%d,%d", &b, &c) == 2) {
            options.x = static_cast<std::int16_t>(b);
            options.y = static_cast<std::int16_t>(c);
            options.hasPosition = true;
        } else if (flag == "--title") {
            options.title = value;
        } else if (flag == "--color") {
            options.color = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 16));
        } else if (flag == "--interval-ms") {
            options.intervalMs = std::atoi(value);
        } else {
            return false;
        }
    }
    return true;
}

class Painter {
  public:
    Painter(xcb_connection_t* connection, xcb_screen_t* screen, const Options& options)
        : connection_(connection), screen_(screen) {
        window_ = xcb_generate_id(connection);
        const std::uint32_t values[] = {options.color, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window_, screen->root, options.x,
                          options.y, options.width, options.height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        color_ = options.color;
        const xcb_atom_t utf8 = intern(connection, "UTF8_STRING");
        setText(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, options.title);
        setText(intern(connection, "_NET_WM_NAME"), utf8, options.title);
        const std::string wmClass("tovalo_paint_client\0TovaloPaintClient\0", 39);
        setText(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
        const auto pid = static_cast<std::uint32_t>(getpid());
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window_,
                            intern(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
        // WM_NORMAL_HINTS: user-given position and size, so the window manager keeps them.
        std::uint32_t hints[18] = {};
        hints[0] = (options.hasPosition ? 1u | 4u : 0u) | 2u | 8u;
        hints[1] = static_cast<std::uint32_t>(options.x);
        hints[2] = static_cast<std::uint32_t>(options.y);
        hints[3] = options.width;
        hints[4] = options.height;
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
        ackAtom_ = intern(connection, "_TOVALO_PAINT_ACK_" + std::to_string(pid));
        xcb_map_window(connection, window_);
        xcb_flush(connection);
    }

    void paint(std::uint32_t color) {
        color_ = color;
        xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXEL, &color_);
        xcb_clear_area(connection_, 0, window_, 0, 0, 0, 0);
    }
    std::uint32_t color() const { return color_; }

    void withdraw() {
        xcb_unmap_window(connection_, window_);
        // The synthetic UnmapNotify a withdrawing client sends to the root window.
        xcb_unmap_notify_event_t event{};
        event.response_type = XCB_UNMAP_NOTIFY;
        event.event = screen_->root;
        event.window = window_;
        xcb_send_event(connection_, 0, screen_->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    void map() { xcb_map_window(connection_, window_); }

    void acknowledge() {
        ++acks_;
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, screen_->root, ackAtom_,
                            XCB_ATOM_CARDINAL, 32, 1, &acks_);
        xcb_flush(connection_);
    }

  private:
    void setText(xcb_atom_t property, xcb_atom_t type, const std::string& text) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, property, type, 8,
                            static_cast<std::uint32_t>(text.size()), text.data());
    }

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    xcb_window_t window_ = XCB_NONE;
    xcb_atom_t ackAtom_ = XCB_ATOM_NONE;
    std::uint32_t color_ = 0;
    std::uint32_t acks_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--size WxH] [--position X,Y] [--title T] [--color RRGGBB] "
                     "[--interval-ms N]\n",
                     argv[0]);
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "tovalo_paint_client: cannot connect to the X server\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    Painter painter(connection, screen, options);

    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(options.intervalMs);
    auto nextTick = Clock::now() + interval;
    std::uint32_t sequence = 0;
    bool mappedOnce = false;
    bool stdinOpen = true;
    std::string pending;
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && !mappedOnce) {
                mappedOnce = true;
                painter.acknowledge();
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection) != 0) {
            return 1;
        }
        int timeout = -1;
        if (options.intervalMs > 0) {
            const auto now = Clock::now();
            if (now >= nextTick) {
                painter.paint(sequenceColor(sequence++));
                xcb_flush(connection);
                nextTick += interval;
                if (nextTick < now) {
                    nextTick = now + interval;
                }
            }
            timeout = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now())
                    .count());
            timeout = timeout < 0 ? 0 : timeout;
        }
        pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0},
                         {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, stdinOpen ? 2 : 1, timeout) < 0) {
            continue;
        }
        if (!stdinOpen || (fds[1].revents & (POLLIN | POLLHUP)) == 0) {
            continue;
        }
        char buffer[512];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            stdinOpen = false;  // keep painting on the timer, if any, until killed
            continue;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.rfind("color ", 0) == 0) {
                painter.paint(
                    static_cast<std::uint32_t>(std::strtoul(line.c_str() + 6, nullptr, 16)));
            } else if (line.empty() || line == "next") {
                painter.paint(sequenceColor(sequence++));
            } else if (line == "withdraw") {
                painter.withdraw();
            } else if (line == "map") {
                painter.map();
            } else if (line == "exit") {
                xcb_disconnect(connection);
                return 0;
            }
            painter.acknowledge();
        }
    }
}
