#pragma once

// Port: the process's handler of uncaught exceptions, read and replaced like a global setting,
// so the error reporter can report an uncaught exception and then hand it to whatever handler
// was installed before it.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/value.h"

namespace tovalo {

struct UncaughtException {
    std::string name;                   // the exception's type, readable (demangled)
    std::optional<std::string> reason;  // what() when there is one
    std::vector<std::string> callStack;
    // Extra information carried by the exception, when its keys were all strings.
    std::optional<ValueMap> userInfo;
};

using UncaughtExceptionHandler = std::function<void(const UncaughtException&)>;

class UncaughtExceptionHooks {
public:
    virtual ~UncaughtExceptionHooks() = default;
    // The handler installed now; empty when none.
    virtual UncaughtExceptionHandler currentHandler() const = 0;
    virtual void setHandler(UncaughtExceptionHandler handler) = 0;
};

}  // namespace tovalo
