#pragma once

// The answer of one control command: either its value or the ControlError saying why it failed.
// A value; errors travel in it, never as exceptions.

#include <utility>
#include <variant>

#include "app/control_error.h"

namespace tovalo {

template <typename T>
class ControlResult {
  public:
    static ControlResult success(T value) { return ControlResult(std::move(value)); }
    static ControlResult failure(ControlError error) { return ControlResult(std::move(error)); }

    bool ok() const { return std::holds_alternative<T>(storage_); }
    // Only when ok().
    const T& value() const { return std::get<T>(storage_); }
    // Only when !ok().
    const ControlError& error() const { return std::get<ControlError>(storage_); }

  private:
    explicit ControlResult(T value) : storage_(std::move(value)) {}
    explicit ControlResult(ControlError error) : storage_(std::move(error)) {}

    std::variant<T, ControlError> storage_;
};

}  // namespace tovalo
