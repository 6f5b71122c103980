#include "base/dispatch_runtime.h"

#include "base/threaded_executor.h"

namespace tovalo {

std::shared_ptr<DispatchRuntime> DispatchRuntime::makeThreaded(
    std::shared_ptr<MainThreadExecutor> mainThread) {
    return std::make_shared<DispatchRuntime>(
        std::make_shared<ThreadedExecutor>(std::move(mainThread)));
}

DispatchRuntime::DispatchRuntime(std::shared_ptr<Executor> executor)
    : executor_(std::move(executor)),
      mainQueue_(std::make_shared<DispatchQueue>("com.tovalohq.tovalo.main",
                                                 DispatchQueue::Kind::main, executor_)) {}

// Pending jobs and timers hold their queues, and queues hold the engine: shutting the engine
// down breaks that cycle, so nothing outlives the runtime by accident.
DispatchRuntime::~DispatchRuntime() {
    executor_->shutdown();
}

std::shared_ptr<DispatchQueue> DispatchRuntime::makeSerialQueue(std::string label) const {
    return std::make_shared<DispatchQueue>(std::move(label), DispatchQueue::Kind::serial,
                                           executor_);
}

std::shared_ptr<DispatchQueue> DispatchRuntime::makeConcurrentQueue(std::string label) const {
    return std::make_shared<DispatchQueue>(std::move(label), DispatchQueue::Kind::concurrent,
                                           executor_);
}

}  // namespace tovalo
