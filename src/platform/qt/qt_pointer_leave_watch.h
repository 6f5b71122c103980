#pragma once

// Tells when the pointer really leaves a panel. A panel that lets clicks through (an overlay
// stepping aside for its source) stops receiving pointer events, so X reports a leave although
// the pointer is still over it, and no leave when the pointer goes. While that is the case the
// pointer position is checked every 50 ms until it is outside the panel; then `onLeave` runs.

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace tovalo::qt {

class QtPointerLeaveWatch final : public QObject {
    Q_OBJECT

  public:
    QtPointerLeaveWatch(QWidget* panel, std::function<void()> onLeave);

    // The panel reported a leave: reports it now if the pointer is outside, else watches.
    void leaveReported();
    // The pointer is back over the panel (an enter): nothing to watch.
    void enterReported();
    bool isWatching() const { return timer_.isActive(); }

  private:
    bool pointerIsOutside() const;
    void check();

    QPointer<QWidget> panel_;
    std::function<void()> onLeave_;
    QTimer timer_;
};

}  // namespace tovalo::qt
