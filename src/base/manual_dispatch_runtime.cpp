#include "base/manual_dispatch_runtime.h"

namespace tovalo {

std::shared_ptr<ManualDispatchRuntime> ManualDispatchRuntime::make() {
    return std::make_shared<ManualDispatchRuntime>(std::make_shared<ManualExecutor>());
}

ManualDispatchRuntime::ManualDispatchRuntime(std::shared_ptr<ManualExecutor> executor)
    : DispatchRuntime(executor), manual_(std::move(executor)) {}

}  // namespace tovalo
