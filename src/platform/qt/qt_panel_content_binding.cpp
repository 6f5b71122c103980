#include "platform/qt/qt_panel_content_binding.h"

#include "pinning/pinned_overlay_view.h"
#include "platform/qt/qt_panel.h"
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
    panel.setPointerHandlers(
        [weakView](bool inside) {
            if (auto strong = weakView.lock()) {
                strong->handlePointerHover(inside);
            }
        },
        [weakView] {
            if (auto strong = weakView.lock()) {
                strong->handleTap();
            }
        });
    std::weak_ptr<QtPanel> weakPanel = panel.shared_from_this();
    return view->presentedOpacity().subscribe([weakPanel](const double& opacity) {
        if (auto strong = weakPanel.lock()) {
            strong->setVideoOpacity(opacity);
        }
    });
}

}  // namespace tovalo::qt
