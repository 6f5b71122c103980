#include "platform/sim/sim_uncaught_exception_hooks.h"

namespace tovalo::sim {

UncaughtExceptionHandler SimUncaughtExceptionHooks::currentHandler() const {
    std::lock_guard lock(mutex_);
    return handler_;
}

void SimUncaughtExceptionHooks::setHandler(UncaughtExceptionHandler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    ++setHandlerCount_;
}

bool SimUncaughtExceptionHooks::raise(const UncaughtException& exception) const {
    // Called outside the lock: the handler may read or replace the hooks.
    const UncaughtExceptionHandler handler = currentHandler();
    if (!handler) {
        return false;
    }
    handler(exception);
    return true;
}

int SimUncaughtExceptionHooks::setHandlerCount() const {
    std::lock_guard lock(mutex_);
    return setHandlerCount_;
}

}  // namespace tovalo::sim
