#include "platform/qt/qt_pointer_leave_watch.h"

#include <QCursor>

namespace tovalo::qt {

QtPointerLeaveWatch::QtPointerLeaveWatch(QWidget* panel, std::function<void()> onLeave)
    : panel_(panel), onLeave_(std::move(onLeave)) {
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, &QtPointerLeaveWatch::check);
}

bool QtPointerLeaveWatch::pointerIsOutside() const {
    const QWidget* panel = panel_.data();
    if (panel == nullptr) {
        return true;
    }
    return !panel->isVisible() || !panel->frameGeometry().contains(QCursor::pos());
}

void QtPointerLeaveWatch::leaveReported() {
    if (pointerIsOutside()) {
        timer_.stop();
        onLeave_();
        return;
    }
    timer_.start();
}

void QtPointerLeaveWatch::enterReported() {
    timer_.stop();
}

void QtPointerLeaveWatch::check() {
    if (pointerIsOutside()) {
        timer_.stop();
        onLeave_();
    }
}

}  // namespace tovalo::qt
