#include "platform/qt/qt_panel_content_binding.h"

#include "pinning/pinned_overlay_view.h"
#include "platform/qt/qt_panel.h"
#include "platform/qt/qt_panel_widget.h"
#include "platform/qt/qt_pointer_leave_watch.h"
#include "platform/qt/qt_video_layer.h"

namespace tovalo::qt {

Subscription bindPanelContent(QtPanel& panel, const std::shared_ptr<WindowContent>& content) {
    auto view = std::dynamic_pointer_cast<PinnedOverlayView>(content);
    if (!view) {
        panel.setVideoLayer(nullptr);
        panel.setPointerHandlers({}, {});
        return Subscription();
    }
    panel.setVideoLayer(std::dynamic_pointer_cast<QtVideoLayer>(view->videoLayer()));
    panel.setVideoOpacity(view->presentedOpacity().get());
    std::weak_ptr<PinnedOverlayView> weakView = view;
    auto hover = [weakView](bool inside) {
        if (auto strong = weakView.lock()) {
            strong->handlePointerHover(inside);
        }
    };
    // Letting clicks through makes X report a leave while the pointer stays over the panel;
    // only a real leave counts.
    auto watch = std::make_shared<QtPointerLeaveWatch>(panel.widget(), [hover] { hover(false); });
    panel.setPointerHandlers(
        [hover, weakWatch = std::weak_ptr<QtPointerLeaveWatch>(watch)](bool inside) {
            auto strongWatch = weakWatch.lock();
            if (!strongWatch) {
                return;
            }
            if (!inside) {
                strongWatch->leaveReported();
                return;
            }
            // After a leave that was not one, the view still has the pointer inside.
            const bool alreadyInside = strongWatch->isWatching();
            strongWatch->enterReported();
            if (!alreadyInside) {
                hover(true);
            }
        },
        [weakView] {
            if (auto strong = weakView.lock()) {
                strong->handleTap();
            }
        });
    std::weak_ptr<QtPanel> weakPanel = panel.shared_from_this();
    auto opacity = std::make_shared<Subscription>(
        view->presentedOpacity().subscribe([weakPanel](const double& value) {
            if (auto strong = weakPanel.lock()) {
                strong->setVideoOpacity(value);
            }
        }));
    // The binding keeps the watch and the opacity subscription until it is dropped.
    return Subscription([watch, opacity]() mutable {
        opacity.reset();
        watch.reset();
    });
}

}  // namespace tovalo::qt
