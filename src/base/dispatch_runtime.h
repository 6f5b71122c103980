#pragma once

// What components receive to do work off the caller's stack: the main queue, factories for
// labelled serial and concurrent queues, the clock and the main-thread test. The composition
// root builds one over real threads; each test builds a ManualDispatchRuntime of its own.

#include <memory>
#include <string>

#include "base/dispatch_queue.h"
#include "base/executor.h"
#include "base/main_thread_executor.h"

namespace tovalo {

class DispatchRuntime {
  public:
    // Real threads; main-queue work runs on `mainThread`.
    static std::shared_ptr<DispatchRuntime> makeThreaded(
        std::shared_ptr<MainThreadExecutor> mainThread);

    explicit DispatchRuntime(std::shared_ptr<Executor> executor);
    virtual ~DispatchRuntime();
    DispatchRuntime(const DispatchRuntime&) = delete;
    DispatchRuntime& operator=(const DispatchRuntime&) = delete;

    const std::shared_ptr<DispatchQueue>& mainQueue() const { return mainQueue_; }
    std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label) const;
    std::shared_ptr<DispatchQueue> makeConcurrentQueue(std::string label) const;

    const Clock& clock() const { return executor_->clock(); }
    TimePoint now() const { return executor_->clock().now(); }
    bool isMainThread() const { return executor_->isMainThread(); }

    Executor& executor() const { return *executor_; }
    const std::shared_ptr<Executor>& sharedExecutor() const { return executor_; }

  private:
    std::shared_ptr<Executor> executor_;
    std::shared_ptr<DispatchQueue> mainQueue_;
};

}  // namespace tovalo
