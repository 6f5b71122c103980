#pragma once

// Uncaught-exception hooks held in memory instead of in the process: tests install handlers
// through them and raise() plays the part of an exception nobody caught. Counts installations.
// Safe to use from any thread.

#include <mutex>
#include <utility>

#include "platform/uncaught_exception_hooks.h"

namespace tovalo::sim {

class SimUncaughtExceptionHooks final : public UncaughtExceptionHooks {
  public:
    SimUncaughtExceptionHooks() = default;
    // Starts with `handler` installed, as if other crash tooling had installed it earlier.
    explicit SimUncaughtExceptionHooks(UncaughtExceptionHandler handler)
        : handler_(std::move(handler)) {}

    UncaughtExceptionHandler currentHandler() const override;
    void setHandler(UncaughtExceptionHandler handler) override;

    // Calls the installed handler with `exception`; false when none is installed.
    bool raise(const UncaughtException& exception) const;
    // How many times setHandler was called.
    int setHandlerCount() const;

  private:
    mutable std::mutex mutex_;
    UncaughtExceptionHandler handler_;
    int setHandlerCount_ = 0;
};

}  // namespace tovalo::sim
