// tovalo_mirror_probe: looks at a pinned window's overlay from outside, as any other X client
// sees it, for the desktop mirroring benchmark.
//
//   tovalo_mirror_probe frames --source XID --seconds N
//       Repaints per second of the overlay and of the source, and the delay from each overlay
//       repaint back to the latest source repaint before it.
//   tovalo_mirror_probe follow --source XID --moves K
//       Moves the source's frame K times and times how long the overlay takes to cover the new
//       frame.
//
// The overlay is the viewable override-redirect child of the root window that has the geometry
// of the source's frame (the source's ancestor just below the root) and is not that frame.
// All times are arrival times of events at this client (CLOCK_MONOTONIC).

#include <poll.h>
#include <time.h>
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kFindGuardMs = 3000;
constexpr double kMoveGuardMs = 5000;
// The overlay counts as settled once nothing on the root changed for this long; the program
// debounces about 0.2 s after the last move.
constexpr double kSettleQuietMs = 500;
// Damage events closer than this to the first of a group belong to the same repaint: one frame
// may reach the server as several drawing requests.
constexpr double kSameRepaintMs = 4;

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
    std::string text() const {
        return std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) +
               "+" + std::to_string(y);
    }
};

// The outer rectangle, border included, as placed on the screen.
Rect outer(int x, int y, int width, int height, int border) {
    return {x, y, width + 2 * border, height + 2 * border};
}

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
    return Reply<T>(reply, &std::free);
}

struct TopLevel {
    Rect rect;
    bool mapped = false;
    bool overrideRedirect = false;
};

class Probe {
  public:
    bool connect() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_) != 0) {
            std::fprintf(stderr, "tovalo_mirror_probe: cannot connect to the X server\n");
            return false;
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        return true;
    }
    ~Probe() {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
    }

    // The source's ancestor just below the root, and the root's children as they are now.
    bool start(xcb_window_t source) {
        source_ = source;
        // The root reports every top-level's changes, the overlay's included, even when the
        // program replaces its overlay window.
        const std::uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &rootMask);
        const std::uint32_t sourceMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        if (auto* error = xcb_request_check(
                connection_, xcb_change_window_attributes_checked(
                                 connection_, source_, XCB_CW_EVENT_MASK, &sourceMask))) {
            std::free(error);
            std::fprintf(stderr, "tovalo_mirror_probe: no window 0x%x\n", source_);
            return false;
        }
        xcb_window_t window = source_;
        for (;;) {
            auto tree = own(
                xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
            if (!tree) {
                std::fprintf(stderr, "tovalo_mirror_probe: window 0x%x went away\n", window);
                return false;
            }
            if (tree->parent == root_ || tree->parent == XCB_NONE) {
                break;
            }
            window = tree->parent;
        }
        frame_ = window;
        readTopLevels();
        if (!topLevels_.contains(frame_)) {
            std::fprintf(stderr, "tovalo_mirror_probe: the frame 0x%x of 0x%x is gone\n", frame_,
                         source_);
            return false;
        }
        return true;
    }

    // Waits, within a guard time, for an overlay over the source's frame.
    bool findOverlay() {
        const double deadline = nowMs() + kFindGuardMs;
        while (!overlay() && !failed_) {
            if (!waitForEvents(deadline)) {
                break;
            }
        }
        if (failed_) {
            return false;
        }
        if (!overlay()) {
            std::fprintf(stderr,
                         "tovalo_mirror_probe: no viewable override-redirect window covers the "
                         "frame %s of 0x%x (is it pinned and shown?)\n",
                         frameRect().text().c_str(), source_);
            return false;
        }
        overlay_ = *overlay();
        return true;
    }

    int frames(double seconds) {
        if (!startDamage()) {
            return 1;
        }
        watchOverlayTree(overlay_);
        xcb_flush(connection_);
        const double begin = nowMs();
        const double end = begin + seconds * 1e3;
        while (!failed_ && waitForEvents(end)) {
        }
        if (failed_) {
            return 1;
        }
        const double elapsed = (nowMs() - begin) / 1e3;
        std::vector<double> delays;
        for (const double shown : overlayRepaints_) {
            auto after = std::upper_bound(sourceRepaints_.begin(), sourceRepaints_.end(), shown);
            if (after != sourceRepaints_.begin()) {
                delays.push_back(shown - *std::prev(after));
            }
        }
        std::sort(delays.begin(), delays.end());
        std::printf("overlay %.1f frames shown/s, source %.1f repaints/s, repaint delay ",
                    static_cast<double>(overlayRepaints_.size()) / elapsed,
                    static_cast<double>(sourceRepaints_.size()) / elapsed);
        if (delays.empty()) {
            std::printf("n/a");
        } else {
            std::printf("median %.1f ms, 95th percentile %.1f ms", percentile(delays, 0.5),
                        percentile(delays, 0.95));
        }
        std::printf(" (%zu overlay repaints; damage seen on %zu of %zu overlay windows)\n",
                    overlayRepaints_.size(), damagedOverlayWindows_.size(),
                    overlayDamage_.size() + retiredOverlayWindows_);
        return 0;
    }

    int follow(int moves) {
        std::vector<double> delays;
        for (int i = 0; i < moves; ++i) {
            if (!settle()) {
                return 1;
            }
            const Rect before = frameRect();
            // Well apart from the current place, so every move changes the frame's position.
            int x = 60 + (i * 173) % 600;
            int y = 40 + (i * 97) % 400;
            if (std::abs(x - before.x) < 40 && std::abs(y - before.y) < 40) {
                x += 200;
            }
            // As user tools move a window: a configure request on the client, which the window
            // manager turns into a move of its frame.
            const std::uint32_t position[] = {static_cast<std::uint32_t>(x),
                                              static_cast<std::uint32_t>(y)};
            xcb_configure_window(connection_, source_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y,
                                 position);
            xcb_flush(connection_);
            const double requested = nowMs();
            const double deadline = requested + kMoveGuardMs;
            std::optional<double> followed;
            while (!failed_) {
                if (frameRect() != before && overlay()) {
                    followed = lastEventMs_;
                    break;
                }
                if (!waitForEvents(deadline)) {
                    break;
                }
            }
            if (failed_) {
                return 1;
            }
            if (!followed) {
                if (frameRect() == before) {
                    std::fprintf(stderr,
                                 "tovalo_mirror_probe: the window manager did not move the frame "
                                 "of 0x%x within %.0f s\n",
                                 source_, kMoveGuardMs / 1e3);
                } else {
                    std::fprintf(stderr,
                                 "tovalo_mirror_probe: move %d: no overlay covered the frame at "
                                 "%s within %.0f s\n",
                                 i + 1, frameRect().text().c_str(), kMoveGuardMs / 1e3);
                }
                return 1;
            }
            delays.push_back(*followed - requested);
        }
        if (!settle()) {
            return 1;
        }
        std::sort(delays.begin(), delays.end());
        std::printf("overlay follows a move in median %.1f ms, max %.1f ms (%d moves)\n",
                    percentile(delays, 0.5), delays.empty() ? 0.0 : delays.back(), moves);
        return 0;
    }

  private:
    static double percentile(const std::vector<double>& sorted, double p) {
        if (sorted.empty()) {
            return 0;
        }
        const auto rank = static_cast<std::size_t>(p * static_cast<double>(sorted.size()) + 0.999);
        return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
    }

    Rect frameRect() const {
        const auto found = topLevels_.find(frame_);
        return found == topLevels_.end() ? Rect{} : found->second.rect;
    }

    // The topmost window that is one; the root lists its children bottom to top.
    std::optional<xcb_window_t> overlay() const {
        const auto found = topLevels_.find(frame_);
        if (found == topLevels_.end()) {
            return std::nullopt;
        }
        for (auto it = stacking_.rbegin(); it != stacking_.rend(); ++it) {
            const auto level = topLevels_.find(*it);
            if (*it != frame_ && level != topLevels_.end() && level->second.mapped &&
                level->second.overrideRedirect && level->second.rect == found->second.rect) {
                return *it;
            }
        }
        return std::nullopt;
    }

    // `window`'s children, bottom to top; none when it is gone.
    std::vector<xcb_window_t> childrenOf(xcb_window_t window) {
        auto tree =
            own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr));
        if (!tree) {
            return {};
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        return {children, children + xcb_query_tree_children_length(tree.get())};
    }

    void readTopLevels() {
        const std::vector<xcb_window_t> children = childrenOf(root_);
        std::vector<xcb_get_window_attributes_cookie_t> attributes;
        std::vector<xcb_get_geometry_cookie_t> geometries;
        for (const xcb_window_t child : children) {
            attributes.push_back(xcb_get_window_attributes(connection_, child));
            geometries.push_back(xcb_get_geometry(connection_, child));
        }
        for (std::size_t i = 0; i < children.size(); ++i) {
            auto attribute =
                own(xcb_get_window_attributes_reply(connection_, attributes[i], nullptr));
            auto geometry = own(xcb_get_geometry_reply(connection_, geometries[i], nullptr));
            if (!attribute || !geometry) {
                continue;
            }
            topLevels_[children[i]] = {outer(geometry->x, geometry->y, geometry->width,
                                             geometry->height, geometry->border_width),
                                       attribute->map_state == XCB_MAP_STATE_VIEWABLE,
                                       attribute->override_redirect != 0};
            stacking_.push_back(children[i]);
        }
        // What the root reported before these replies is older than them.
        while (xcb_generic_event_t* event = xcb_poll_for_queued_event(connection_)) {
            std::free(event);
        }
    }

    bool startDamage() {
        const xcb_query_extension_reply_t* extension =
            xcb_get_extension_data(connection_, &xcb_damage_id);
        if (extension == nullptr || extension->present == 0) {
            std::fprintf(stderr, "tovalo_mirror_probe: the X server has no DAMAGE extension\n");
            return false;
        }
        damageEvent_ = static_cast<std::uint8_t>(extension->first_event + XCB_DAMAGE_NOTIFY);
        std::free(xcb_damage_query_version_reply(
            connection_,
            xcb_damage_query_version(connection_, XCB_DAMAGE_MAJOR_VERSION,
                                     XCB_DAMAGE_MINOR_VERSION),
            nullptr));
        sourceDamage_ = xcb_generate_id(connection_);
        xcb_damage_create(connection_, sourceDamage_, source_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        return true;
    }

    // Damage on a window does not necessarily report drawing into its children, so every
    // window of the overlay gets its own, and children created later get one too.
    void watchOverlayTree(xcb_window_t window) {
        if (overlayDamage_.contains(window)) {
            return;
        }
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
        const xcb_damage_damage_t damage = xcb_generate_id(connection_);
        xcb_damage_create(connection_, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
        overlayDamage_[window] = damage;
        damageWindow_[damage] = window;
        for (const xcb_window_t child : childrenOf(window)) {
            watchOverlayTree(child);
        }
    }

    void forgetOverlayWindow(xcb_window_t window) {
        const auto found = overlayDamage_.find(window);
        if (found == overlayDamage_.end()) {
            return;
        }
        damageWindow_.erase(found->second);
        overlayDamage_.erase(found);
        ++retiredOverlayWindows_;
    }

    static void addRepaint(std::vector<double>& repaints, double& groupStart, double at) {
        if (repaints.empty() || at - groupStart >= kSameRepaintMs) {
            repaints.push_back(at);
            groupStart = at;
        }
    }

    // Waits for and handles events until the deadline; false once it has passed.
    bool waitForEvents(double deadline) {
        xcb_flush(connection_);
        const double left = deadline - nowMs();
        if (left <= 0) {
            return false;
        }
        pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
        if (xcb_generic_event_t* queued = xcb_poll_for_queued_event(connection_)) {
            handle(queued);
            std::free(queued);
        } else if (poll(&fd, 1, static_cast<int>(left) + 1) < 0) {
            return true;
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            handle(event);
            std::free(event);
        }
        if (xcb_connection_has_error(connection_) != 0) {
            std::fprintf(stderr, "tovalo_mirror_probe: lost the X server\n");
            failed_ = true;
        }
        xcb_flush(connection_);
        return !failed_;
    }

    void handle(xcb_generic_event_t* event) {
        const double at = nowMs();
        lastEventMs_ = at;
        const std::uint8_t type = event->response_type & 0x7f;
        if (damageEvent_ != 0 && type == damageEvent_) {
            const auto* damage = reinterpret_cast<xcb_damage_notify_event_t*>(event);
            xcb_damage_subtract(connection_, damage->damage, XCB_NONE, XCB_NONE);
            if (damage->damage == sourceDamage_) {
                addRepaint(sourceRepaints_, sourceGroup_, at);
            } else if (const auto window = damageWindow_.find(damage->damage);
                       window != damageWindow_.end()) {
                damagedOverlayWindows_.insert(window->second);
                addRepaint(overlayRepaints_, overlayGroup_, at);
            }
            return;
        }
        switch (type) {
            case 0:
                // Races with windows that went away meanwhile; what matters shows up as events.
                break;
            case XCB_CREATE_NOTIFY: {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
                if (created->parent == root_) {
                    topLevels_[created->window] = {outer(created->x, created->y, created->width,
                                                         created->height, created->border_width),
                                                   false, created->override_redirect != 0};
                    restack(created->window, XCB_NONE, true);
                } else if (overlayDamage_.contains(created->parent)) {
                    watchOverlayTree(created->window);
                }
                break;
            }
            case XCB_CONFIGURE_NOTIFY: {
                const auto* configured = reinterpret_cast<xcb_configure_notify_event_t*>(event);
                if (configured->event == root_) {
                    auto& level = topLevels_[configured->window];
                    level.rect = outer(configured->x, configured->y, configured->width,
                                       configured->height, configured->border_width);
                    level.overrideRedirect = configured->override_redirect != 0;
                    restack(configured->window, configured->above_sibling, false);
                }
                break;
            }
            case XCB_MAP_NOTIFY: {
                const auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (mapped->event == root_ && topLevels_.contains(mapped->window)) {
                    topLevels_[mapped->window].mapped = true;
                    topLevels_[mapped->window].overrideRedirect = mapped->override_redirect != 0;
                }
                break;
            }
            case XCB_UNMAP_NOTIFY: {
                const auto* unmapped = reinterpret_cast<xcb_unmap_notify_event_t*>(event);
                if (unmapped->event == root_ && topLevels_.contains(unmapped->window)) {
                    topLevels_[unmapped->window].mapped = false;
                }
                break;
            }
            case XCB_REPARENT_NOTIFY: {
                const auto* reparented = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
                if (reparented->event == root_ && reparented->parent != root_) {
                    dropTopLevel(reparented->window);
                }
                break;
            }
            case XCB_DESTROY_NOTIFY: {
                const auto* destroyed = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
                if (destroyed->window == source_) {
                    std::fprintf(stderr, "tovalo_mirror_probe: the source 0x%x was destroyed\n",
                                 source_);
                    failed_ = true;
                } else if (destroyed->window == overlay_ && damageEvent_ != 0) {
                    std::fprintf(stderr, "tovalo_mirror_probe: the overlay 0x%x was destroyed\n",
                                 overlay_);
                    failed_ = true;
                }
                if (destroyed->event == root_) {
                    dropTopLevel(destroyed->window);
                } else {
                    forgetOverlayWindow(destroyed->window);
                }
                break;
            }
            default:
                break;
        }
    }

    void dropTopLevel(xcb_window_t window) {
        topLevels_.erase(window);
        stacking_.erase(std::remove(stacking_.begin(), stacking_.end(), window), stacking_.end());
    }

    // Keeps the bottom-to-top order of the root's children as the events report it.
    void restack(xcb_window_t window, xcb_window_t above, bool created) {
        stacking_.erase(std::remove(stacking_.begin(), stacking_.end(), window), stacking_.end());
        if (created) {
            stacking_.push_back(window);
            return;
        }
        const auto sibling = std::find(stacking_.begin(), stacking_.end(), above);
        stacking_.insert(sibling == stacking_.end() ? stacking_.begin() : std::next(sibling),
                         window);
    }

    // Waits until the overlay covers the frame and nothing on the root changed for a while.
    bool settle() {
        const double deadline = nowMs() + kMoveGuardMs;
        lastEventMs_ = nowMs();
        while (!failed_) {
            const double now = nowMs();
            if (overlay() && now - lastEventMs_ >= kSettleQuietMs) {
                return true;
            }
            if (now >= deadline) {
                std::fprintf(stderr,
                             "tovalo_mirror_probe: the overlay did not settle over the frame %s "
                             "within %.0f s\n",
                             frameRect().text().c_str(), kMoveGuardMs / 1e3);
                break;
            }
            waitForEvents(overlay() ? std::min(deadline, lastEventMs_ + kSettleQuietMs) : deadline);
        }
        return false;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    xcb_window_t source_ = XCB_NONE;
    xcb_window_t frame_ = XCB_NONE;
    xcb_window_t overlay_ = XCB_NONE;
    std::map<xcb_window_t, TopLevel> topLevels_;
    std::vector<xcb_window_t> stacking_;
    std::uint8_t damageEvent_ = 0;
    xcb_damage_damage_t sourceDamage_ = XCB_NONE;
    std::map<xcb_window_t, xcb_damage_damage_t> overlayDamage_;
    std::map<xcb_damage_damage_t, xcb_window_t> damageWindow_;
    std::set<xcb_window_t> damagedOverlayWindows_;
    std::size_t retiredOverlayWindows_ = 0;
    std::vector<double> sourceRepaints_;
    std::vector<double> overlayRepaints_;
    double sourceGroup_ = 0;
    double overlayGroup_ = 0;
    double lastEventMs_ = 0;
    bool failed_ = false;
};

int usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s frames --source XID --seconds N\n"
                 "       %s follow --source XID --moves K\n",
                 program, program);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6 || std::strcmp(argv[2], "--source") != 0) {
        return usage(argv[0]);
    }
    const std::string mode = argv[1];
    char* end = nullptr;
    const unsigned long source = std::strtoul(argv[3], &end, 0);
    const double amount = std::strtod(argv[5], nullptr);
    const bool framesMode = mode == "frames" && std::strcmp(argv[4], "--seconds") == 0;
    const bool followMode = mode == "follow" && std::strcmp(argv[4], "--moves") == 0;
    if ((!framesMode && !followMode) || *end != '\0' || source == 0 || source > 0xFFFFFFFFul ||
        !(amount > 0)) {
        return usage(argv[0]);
    }
    Probe probe;
    if (!probe.connect() || !probe.start(static_cast<xcb_window_t>(source)) ||
        !probe.findOverlay()) {
        return 1;
    }
    return framesMode ? probe.frames(amount) : probe.follow(static_cast<int>(amount));
}
