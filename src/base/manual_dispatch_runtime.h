#pragma once

// A DispatchRuntime on virtual time for tests and the simulated desktop: nothing runs until the
// test drains it ("run until idle", "advance 80 ms").

#include <memory>

#include "base/dispatch_runtime.h"
#include "base/manual_executor.h"

namespace tovalo {

class ManualDispatchRuntime final : public DispatchRuntime {
  public:
    static std::shared_ptr<ManualDispatchRuntime> make();

    explicit ManualDispatchRuntime(std::shared_ptr<ManualExecutor> executor);

    std::size_t runUntilIdle() { return manual_->runUntilIdle(); }
    void advanceBy(Duration d) { manual_->advanceBy(d); }
    void advanceTo(TimePoint t) { manual_->advanceTo(t); }
    ManualExecutor& manualExecutor() const { return *manual_; }
    ManualClock& manualClock() const { return manual_->manualClock(); }

  private:
    std::shared_ptr<ManualExecutor> manual_;
};

}  // namespace tovalo
