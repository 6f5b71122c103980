#include "platform/x11/x11_randr_monitors.h"

#include <xcb/randr.h>

#include <algorithm>

namespace tovalo::x11 {

std::vector<Monitor> RandrMonitors::read(Connection& connection) {
    auto* c = connection.get();
    std::vector<Monitor> monitors;
    Reply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
    if (reply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
             xcb_randr_monitor_info_next(&it)) {
            const xcb_randr_monitor_info_t* info = it.data;
            Monitor monitor;
            const int outputs = xcb_randr_monitor_info_outputs_length(info);
            monitor.id = outputs > 0 ? xcb_randr_monitor_info_outputs(info)[0] : info->name;
            monitor.frame = Rect(info->x, info->y, info->width, info->height);
            monitor.name = connection.atomName(info->name);
            monitor.primary = info->primary != 0;
            monitors.push_back(std::move(monitor));
        }
    }
    if (monitors.empty()) {
        if (connection.hasFailed()) {
            return monitors;
        }
        const xcb_screen_t* screen = connection.screen();
        monitors.push_back(Monitor{connection.root(),
                                   Rect(0, 0, screen->width_in_pixels, screen->height_in_pixels),
                                   "screen", true});
    }
    // The primary first; without one marked, the first stands for it.
    std::stable_partition(monitors.begin(), monitors.end(),
                          [](const Monitor& monitor) { return monitor.primary; });
    return monitors;
}

}  // namespace tovalo::x11
