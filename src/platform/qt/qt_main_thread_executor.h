#pragma once

// Main-queue work on the QApplication's GUI thread: each job is posted as an event to a
// receiver living on that thread, so it runs in a later turn of Qt's event loop, in posting
// order. DispatchRuntime::makeThreaded(executor) over it is the program's runtime. Built on the
// GUI thread after the QApplication; owned by the composition root (the runtime shares it).
// Jobs still queued when it is destroyed are dropped without running.

#include <QObject>
#include <functional>
#include <memory>
#include <thread>

#include "base/main_thread_executor.h"

namespace tovalo::qt {

class QtMainThreadExecutor final : public MainThreadExecutor {
  public:
    // Must be called on the GUI thread.
    QtMainThreadExecutor();
    ~QtMainThreadExecutor() override;
    QtMainThreadExecutor(const QtMainThreadExecutor&) = delete;
    QtMainThreadExecutor& operator=(const QtMainThreadExecutor&) = delete;

    void post(std::function<void()> job) override;
    bool isMainThread() const override { return std::this_thread::get_id() == threadId_; }
    std::thread::id mainThreadId() const override { return threadId_; }

  private:
    class Receiver;

    const std::thread::id threadId_;
    std::unique_ptr<Receiver> receiver_;
};

}  // namespace tovalo::qt
