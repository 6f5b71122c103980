#pragma once

// Feeds the main-thread X connection's events into X11EventSource from Qt's event loop: when
// the connection's descriptor turns readable, and each time the loop is about to block,
// because waiting for a reply makes xcb read and queue events while the descriptor stays
// quiet. Requests still buffered are flushed before the loop blocks. When given the workspace
// events, it also watches their termination descriptor. Nothing polls: the loop sleeps until a
// descriptor or another Qt source wakes it. GUI thread only; owned by the composition root,
// destroyed before the event source and the QApplication.

#include <QObject>
#include <memory>

#include "platform/x11/x11_event_source.h"
#include "platform/x11/x11_workspace_events.h"

class QSocketNotifier;

namespace tovalo::qt {

class QtX11EventPump final : public QObject {
    Q_OBJECT

  public:
    // `workspaceEvents` may be null.
    QtX11EventPump(std::shared_ptr<x11::X11EventSource> events,
                   std::shared_ptr<x11::X11WorkspaceEvents> workspaceEvents);
    ~QtX11EventPump() override;
    QtX11EventPump(const QtX11EventPump&) = delete;
    QtX11EventPump& operator=(const QtX11EventPump&) = delete;

    // Dispatches what is pending now; the loop does this by itself.
    std::size_t pump();
    // How many times X events were dispatched (batches with at least one event), for tests.
    std::uint64_t batchCount() const { return batches_; }

  private:
    void connectionLost();

    const std::shared_ptr<x11::X11EventSource> events_;
    const std::shared_ptr<x11::X11WorkspaceEvents> workspaceEvents_;
    QSocketNotifier* xNotifier_ = nullptr;
    QSocketNotifier* terminationNotifier_ = nullptr;
    QMetaObject::Connection aboutToBlock_;
    std::uint64_t batches_ = 0;
    bool lost_ = false;
};

}  // namespace tovalo::qt
