#include "platform/linux/terminate_handler_hooks.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <typeinfo>
#include <utility>
#include <vector>

namespace tovalo {

namespace {

// The process-wide handler behind our terminate function. Never destroyed, so that a terminate
// during static destruction still finds it.
struct TerminateState {
    std::mutex mutex;
    UncaughtExceptionHandler handler;
    // The terminate function that was installed when ours replaced it; used when terminate runs
    // without an exception.
    std::terminate_handler replaced = nullptr;
};

TerminateState& terminateState() {
    static auto* state = new TerminateState;
    return *state;
}

// The handler standing for a terminate function that is not ours.
struct TerminateFunctionHandler {
    std::terminate_handler function;
    void operator()(const UncaughtException&) const { function(); }
};

std::string demangle(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    if (status != 0 || readable == nullptr) {
        std::free(readable);
        return name;
    }
    std::string result(readable);
    std::free(readable);
    return result;
}

// "binary(mangled+0x1d) [0x5555]" with the symbol demangled when it can be.
std::string readableFrame(std::string_view frame) {
    const auto open = frame.find('(');
    if (open == std::string_view::npos) {
        return std::string(frame);
    }
    const auto end = frame.find_first_of("+)", open + 1);
    if (end == std::string_view::npos || end == open + 1) {
        return std::string(frame);
    }
    const std::string symbol(frame.substr(open + 1, end - open - 1));
    return std::string(frame.substr(0, open + 1)) + demangle(symbol.c_str()) +
           std::string(frame.substr(end));
}

std::vector<std::string> currentCallStack() {
    constexpr int kMaxFrames = 128;
    void* frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    std::vector<std::string> lines;
    if (count <= 0) {
        return lines;
    }
    char** symbols = ::backtrace_symbols(frames, count);
    lines.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (symbols != nullptr) {
            lines.push_back(readableFrame(symbols[i]));
        } else {
            char address[2 + 2 * sizeof(void*) + 1];
            std::snprintf(address, sizeof address, "%p", frames[i]);
            lines.emplace_back(address);
        }
    }
    std::free(symbols);
    return lines;
}

// Ends the process after an uncaught exception has been handed to the handler.
[[noreturn]] void reportingTerminate() noexcept {
    // A second terminate on this thread (the handler itself failed hard) must not loop.
    thread_local bool entered = false;
    if (entered) {
        std::abort();
    }
    entered = true;
    // A terminate on another thread waits briefly for the first one to end the process, so the
    // first report is not cut short, but never hangs the process.
    static std::atomic_flag busy;
    if (busy.test_and_set()) {
        std::this_thread::sleep_for(std::chrono::seconds(5));
        std::abort();
    }

    TerminateState& state = terminateState();
    UncaughtExceptionHandler handler;
    std::terminate_handler replaced = nullptr;
    {
        std::lock_guard lock(state.mutex);
        handler = state.handler;
        replaced = state.replaced;
    }
    if (std::current_exception()) {
        if (handler) {
            try {
                if (const auto exception = TerminateHandlerHooks::describeCurrentException()) {
                    handler(*exception);
                }
            } catch (...) {
            }
        }
    } else if (replaced != nullptr) {
        // Not an exception (a direct std::terminate call): the earlier terminate function knows
        // best what to do with it.
        replaced();
    }
    std::abort();
}

}  // namespace

UncaughtExceptionHandler TerminateHandlerHooks::currentHandler() const {
    const std::terminate_handler installed = std::get_terminate();
    if (installed == &reportingTerminate) {
        TerminateState& state = terminateState();
        std::lock_guard lock(state.mutex);
        return state.handler;
    }
    if (installed == nullptr) {
        return {};
    }
    return TerminateFunctionHandler{installed};
}

void TerminateHandlerHooks::setHandler(UncaughtExceptionHandler handler) {
    TerminateState& state = terminateState();
    std::lock_guard lock(state.mutex);
    if (const auto* function = handler.target<TerminateFunctionHandler>()) {
        std::set_terminate(function->function);
        state.handler = nullptr;
        return;
    }
    state.handler = std::move(handler);
    if (const auto previous = std::set_terminate(&reportingTerminate);
        previous != &reportingTerminate) {
        state.replaced = previous;
    }
}

std::optional<UncaughtException> TerminateHandlerHooks::describeCurrentException() {
    const std::exception_ptr current = std::current_exception();
    if (!current) {
        return std::nullopt;
    }
    UncaughtException exception;
    const std::type_info* type = abi::__cxa_current_exception_type();
    // A foreign (non-C++) exception has no C++ type.
    exception.name = type != nullptr ? demangle(type->name()) : "unknown";
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        exception.reason = e.what();
    } catch (...) {
    }
    exception.callStack = currentCallStack();
    return exception;
}

}  // namespace tovalo
