#include "platform/x11/x11_capture_target.h"

#include <xcb/composite.h>

#include <algorithm>
#include <string>

#include "base/debug_log.h"
#include "platform/x11/x11_capture_engine.h"
#include "platform/x11/x11_capture_errors.h"

namespace tovalo::x11 {
namespace {

constexpr std::uint32_t kWithdrawnState = 0;
constexpr std::uint32_t kIconicState = 3;

}  // namespace

std::shared_ptr<CaptureTarget> CaptureTarget::open(CaptureEngine& engine, xcb_window_t client,
                                                   Error* error) {
    std::shared_ptr<CaptureTarget> target(new CaptureTarget(engine, client));
    if (!target->attach(error)) {
        return nullptr;
    }
    return target;
}

CaptureTarget::CaptureTarget(CaptureEngine& engine, xcb_window_t client)
    : engine_(engine), client_(client) {}

CaptureTarget::~CaptureTarget() {
    detach();
}

void CaptureTarget::addListener(Listener* listener) {
    listeners_.push_back(listener);
}

void CaptureTarget::removeListener(Listener* listener) {
    std::erase(listeners_, listener);
}

bool CaptureTarget::isReadable() const {
    return !gone_ && pixmap_ && clientMapped_ && frameMapped_;
}

xcb_window_t CaptureTarget::topLevelOf(xcb_window_t window, Error* error) {
    Connection& connection = engine_.connection();
    for (int depth = 0; depth < 64; ++depth) {
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
            connection.get(), xcb_query_tree(connection.get(), window), nullptr));
        if (!tree) {
            break;
        }
        if (tree->parent == tree->root || tree->parent == XCB_NONE) {
            return window;
        }
        window = tree->parent;
    }
    if (error) {
        *error = captureError(kCaptureErrorNoCaptureSource, "The window is not available.");
    }
    return XCB_NONE;
}

bool CaptureTarget::attach(Error* error) {
    Connection& connection = engine_.connection();
    auto fail = [&](const std::string& what, const std::optional<ProtocolError>& protocol) {
        if (error) {
            *error =
                captureError(kCaptureErrorNoCaptureSource,
                             protocol ? protocol->toError(what).description : what + " failed");
        }
        detach();
        return false;
    };
    // Events first, so no change between the reads below and now goes unnoticed.
    const std::uint32_t clientMask =
        XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    if (auto protocol = connection.check(xcb_change_window_attributes_checked(
            connection.get(), client_, XCB_CW_EVENT_MASK, &clientMask))) {
        return fail("Selecting the window's events", protocol);
    }
    engine_.watchWindow(client_, this);
    Reply<xcb_get_window_attributes_reply_t> clientAttributes(xcb_get_window_attributes_reply(
        connection.get(), xcb_get_window_attributes(connection.get(), client_), nullptr));
    if (!clientAttributes) {
        return fail("Reading the window", std::nullopt);
    }
    clientMapped_ = clientAttributes->map_state != XCB_MAP_STATE_UNMAPPED;
    frame_ = topLevelOf(client_, error);
    if (frame_ == XCB_NONE) {
        return fail("Finding the window's frame", std::nullopt);
    }
    if (frame_ != client_) {
        const std::uint32_t frameMask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        if (auto protocol = connection.check(xcb_change_window_attributes_checked(
                connection.get(), frame_, XCB_CW_EVENT_MASK, &frameMask))) {
            return fail("Selecting the frame's events", protocol);
        }
        engine_.watchWindow(frame_, this);
        Reply<xcb_get_window_attributes_reply_t> frameAttributes(xcb_get_window_attributes_reply(
            connection.get(), xcb_get_window_attributes(connection.get(), frame_), nullptr));
        if (!frameAttributes) {
            return fail("Reading the window's frame", std::nullopt);
        }
        frameMapped_ = frameAttributes->map_state != XCB_MAP_STATE_UNMAPPED;
        frameVisual_ = frameAttributes->visual;
    } else {
        frameMapped_ = clientMapped_;
        frameVisual_ = clientAttributes->visual;
    }
    if (auto protocol = connection.check(xcb_composite_redirect_window_checked(
            connection.get(), frame_, XCB_COMPOSITE_REDIRECT_AUTOMATIC))) {
        return fail("Redirecting the window", protocol);
    }
    redirected_ = true;
    damage_ = xcb_generate_id(connection.get());
    if (auto protocol = connection.check(xcb_damage_create_checked(
            connection.get(), damage_, frame_, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY))) {
        damage_ = XCB_NONE;
        return fail("Watching the window's changes", protocol);
    }
    engine_.watchDamage(damage_, this);
    renamePixmap();
    return true;
}

void CaptureTarget::detach() {
    Connection& connection = engine_.connection();
    freePixmap();
    // The server may already have dropped these with the window: errors are expected and
    // taken here rather than left to arrive as events.
    if (damage_ != XCB_NONE) {
        engine_.unwatchDamage(damage_);
        connection.check(xcb_damage_destroy_checked(connection.get(), damage_));
        damage_ = XCB_NONE;
    }
    if (redirected_) {
        connection.check(xcb_composite_unredirect_window_checked(connection.get(), frame_,
                                                                 XCB_COMPOSITE_REDIRECT_AUTOMATIC));
        redirected_ = false;
    }
    const std::uint32_t noEvents = XCB_EVENT_MASK_NO_EVENT;
    for (const xcb_window_t window :
         {client_, frame_ != client_ ? frame_ : xcb_window_t{XCB_NONE}}) {
        if (window == XCB_NONE) {
            continue;
        }
        engine_.unwatchWindow(window, this);
        connection.check(xcb_change_window_attributes_checked(connection.get(), window,
                                                              XCB_CW_EVENT_MASK, &noEvents));
    }
    frame_ = XCB_NONE;
}

void CaptureTarget::takeChanges() {
    if (!damagePending_ || damage_ == XCB_NONE) {
        return;
    }
    damagePending_ = false;
    // Anything drawn from here on is reported again.
    xcb_damage_subtract(engine_.connection().get(), damage_, XCB_NONE, XCB_NONE);
}

void CaptureTarget::freePixmap() {
    // Freed on the server once no frame holds it any more.
    pixmap_.reset();
}

void CaptureTarget::renamePixmap() {
    freePixmap();
    if (gone_ || !clientMapped_ || !frameMapped_ || frame_ == XCB_NONE) {
        return;
    }
    Connection& connection = engine_.connection();
    const xcb_pixmap_t pixmap = xcb_generate_id(connection.get());
    // Fails while the frame is not viewable (an ancestor unmapped); a later map renames it.
    if (connection.check(
            xcb_composite_name_window_pixmap_checked(connection.get(), frame_, pixmap))) {
        return;
    }
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
        connection.get(), xcb_get_geometry(connection.get(), pixmap), nullptr));
    // Frames are 32 bits per pixel; other depths are not captured.
    if (!geometry || (geometry->depth != 24 && geometry->depth != 32)) {
        xcb_free_pixmap(connection.get(), pixmap);
        return;
    }
    pixmap_ =
        std::make_shared<const NamedPixmap>(engine_.sharedConnection(), pixmap, geometry->width,
                                            geometry->height, geometry->depth, frameVisual_);
}

std::optional<std::uint32_t> CaptureTarget::readWmState() {
    Connection& connection = engine_.connection();
    const xcb_atom_t wmState = connection.atom("WM_STATE");
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection.get(),
        xcb_get_property(connection.get(), 0, client_, wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 2),
        nullptr));
    if (!reply || reply->type == XCB_NONE || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
}

void CaptureTarget::becomeGone(const std::string& reason) {
    if (gone_) {
        return;
    }
    gone_ = true;
    TOVALO_DEBUG_LOG("X11Capture", "source gone",
                     {{"window_id", static_cast<std::int64_t>(client_)}, {"reason", reason}});
    detach();
    const Error error = captureError(kCaptureErrorNoCaptureSource, reason);
    auto listeners = listeners_;
    for (Listener* listener : listeners) {
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
            listener->targetGone(error);
        }
    }
}

void CaptureTarget::notifyChanged() {
    auto listeners = listeners_;
    for (Listener* listener : listeners) {
        if (gone_) {
            return;
        }
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
            listener->targetChanged();
        }
    }
}

void CaptureTarget::handleEvent(const xcb_generic_event_t* event) {
    if (gone_) {
        return;
    }
    Connection& connection = engine_.connection();
    switch (event->response_type & 0x7f) {
        case XCB_DESTROY_NOTIFY: {
            const auto* destroy = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
            if (destroy->window == client_) {
                becomeGone("The captured window was closed.");
            } else if (destroy->window == frame_) {
                // The window manager tears the frame down when it lets the window go.
                becomeGone("The captured window was withdrawn.");
            }
            return;
        }
        case XCB_UNMAP_NOTIFY: {
            const auto* unmap = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
            if (unmap->window == frame_) {
                frameMapped_ = false;
            }
            if (unmap->window != client_) {
                freePixmap();
                return;
            }
            clientMapped_ = false;
            freePixmap();
            // Minimised or moved to another desktop: iconic, and the stream waits. Withdrawn:
            // the window manager clears the state or lets the window go; without a window
            // manager an unmap that is not iconic is the withdrawal itself.
            const auto state = readWmState();
            if (state != kIconicState && (state == kWithdrawnState || frame_ == client_)) {
                becomeGone("The captured window was withdrawn.");
            }
            return;
        }
        case XCB_MAP_NOTIFY: {
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            if (map->window == client_) {
                clientMapped_ = true;
            }
            if (map->window == frame_) {
                frameMapped_ = true;
            }
            renamePixmap();
            if (isReadable()) {
                notifyChanged();
            }
            return;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window != frame_) {
                return;
            }
            const std::uint32_t width = configure->width + 2u * configure->border_width;
            const std::uint32_t height = configure->height + 2u * configure->border_width;
            if (!pixmap_ || width != pixmap_->width() || height != pixmap_->height()) {
                renamePixmap();
                if (isReadable()) {
                    notifyChanged();
                }
            }
            return;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto* reparent = reinterpret_cast<const xcb_reparent_notify_event_t*>(event);
            if (reparent->window != client_ || reparent->parent == frame_) {
                return;
            }
            if (!clientMapped_) {
                becomeGone("The captured window was withdrawn.");
                return;
            }
            // A window manager started or quit: follow the new top-level window.
            detach();
            Error error;
            if (!attach(&error)) {
                becomeGone(error.description);
                return;
            }
            if (isReadable()) {
                notifyChanged();
            }
            return;
        }
        case XCB_PROPERTY_NOTIFY: {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (property->atom != connection.atom("WM_STATE") || clientMapped_) {
                return;
            }
            const auto state = property->state == XCB_PROPERTY_DELETE
                                   ? std::optional<std::uint32_t>()
                                   : readWmState();
            if (!state || state == kWithdrawnState) {
                becomeGone("The captured window was withdrawn.");
            }
            return;
        }
        default:
            // Report level non-empty: no further report until the picture is taken and the
            // damage subtracted, so a source drawing in many small steps costs one event per
            // frame rather than one per step.
            damagePending_ = true;
            if (isReadable()) {
                notifyChanged();
            }
            return;
    }
}

}  // namespace tovalo::x11
