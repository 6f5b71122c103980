#pragma once

// Uncaught-exception hooks over the C++ terminate handler, which is what runs when an exception
// leaves a thread or a noexcept function uncaught. Setting a handler installs a terminate function
// that describes the exception (demangled type, what(), the call stack), calls the handler, and
// aborts when the handler returns. A terminate function installed by someone else shows up as a
// handler that calls that function, so whoever replaces it can keep it working by calling it;
// setting such a handler back puts that very function back. The terminate handler is one per
// process, so every instance is a view of the same setting; the composition root builds one.
// Safe to use from any thread.

#include <optional>

#include "platform/uncaught_exception_hooks.h"

namespace tovalo {

class TerminateHandlerHooks final : public UncaughtExceptionHooks {
  public:
    UncaughtExceptionHandler currentHandler() const override;
    void setHandler(UncaughtExceptionHandler handler) override;

    // The exception this thread is handling now (inside a catch block or a terminate function),
    // with the current call stack; nullopt when there is none.
    static std::optional<UncaughtException> describeCurrentException();
};

}  // namespace tovalo
