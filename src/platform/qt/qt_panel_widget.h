#pragma once

// The top-level widget behind a QtPanel: it only draws (a video view over its whole area when
// the panel is given a video layer) and forwards the window manager's close request to the
// panel, which decides. Owned by its QtPanel.

#include <QWidget>
#include <functional>
#include <memory>

namespace tovalo::qt {

class QtVideoLayer;
class QtVideoView;

class QtPanelWidget final : public QWidget {
    Q_OBJECT

  public:
    explicit QtPanelWidget(Qt::WindowFlags flags);

    // Called instead of closing when the window manager (or Qt) asks the window to close.
    void setCloseRequestHandler(std::function<void()> handler);
    // The pointer entering (true) or leaving (false) the panel, and presses on it; forwarded to
    // the content, which decides what they mean.
    void setPointerHandlers(std::function<void(bool)> hover, std::function<void()> press);

    // Shows `layer` over the whole panel (null: removes the video).
    void setVideoLayer(std::shared_ptr<QtVideoLayer> layer);
    void setVideoOpacity(double opacity);
    QtVideoView* videoView() const { return videoView_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    std::function<void()> closeRequestHandler_;
    std::function<void(bool)> hoverHandler_;
    std::function<void()> pressHandler_;
    QtVideoView* videoView_ = nullptr;
};

}  // namespace tovalo::qt
