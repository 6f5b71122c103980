#include "platform/qt/qt_x11_event_pump.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <utility>

#include "base/debug_log.h"

namespace tovalo::qt {

QtX11EventPump::QtX11EventPump(std::shared_ptr<x11::X11EventSource> events,
                               std::shared_ptr<x11::X11WorkspaceEvents> workspaceEvents)
    : events_(std::move(events)), workspaceEvents_(std::move(workspaceEvents)) {
    if (events_) {
        const int fd = events_->connection()->fileDescriptor();
        xNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(xNotifier_, &QSocketNotifier::activated, this, [this] { pump(); });
        if (auto* dispatcher = QAbstractEventDispatcher::instance(thread())) {
            aboutToBlock_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                                    [this] { pump(); });
        }
    }
    if (workspaceEvents_ && workspaceEvents_->terminationFileDescriptor() >= 0) {
        terminationNotifier_ = new QSocketNotifier(workspaceEvents_->terminationFileDescriptor(),
                                                   QSocketNotifier::Read, this);
        connect(terminationNotifier_, &QSocketNotifier::activated, this,
                [this] { workspaceEvents_->processTerminations(); });
    }
    pump();
}

QtX11EventPump::~QtX11EventPump() {
    disconnect(aboutToBlock_);
}

std::size_t QtX11EventPump::pump() {
    if (!events_ || lost_) {
        return 0;
    }
    const std::size_t count = events_->processPendingEvents();
    if (count > 0) {
        ++batches_;
    }
    const auto& connection = events_->connection();
    if (connection->hasFailed()) {
        connectionLost();
        return count;
    }
    // Handlers may have queued requests; the server must see them before the loop sleeps.
    connection->flush();
    return count;
}

void QtX11EventPump::connectionLost() {
    // A broken connection keeps its descriptor readable; watching it would spin the loop.
    lost_ = true;
    if (xNotifier_) {
        xNotifier_->setEnabled(false);
    }
    disconnect(aboutToBlock_);
    TOVALO_DEBUG_LOG("X11", "connection lost");
}

}  // namespace tovalo::qt
