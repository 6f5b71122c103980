#pragma once

// Why a control command (a scripted "list", "pin", "unpin" ...) failed: a code a front end can
// map to its own error names, and a message for the person who typed the command. A value.

#include <string>

namespace tovalo {

enum class ControlErrorCode {
    // No window with that ID exists.
    unknownWindow,
    // The window exists but cannot be captured now: this program's own, excluded, hidden,
    // minimised, or not a normal window.
    notCapturable,
    // Unpin of a window that is not pinned.
    notPinned,
    // The windows could not be read (screen capture unavailable or declined, no display).
    contentUnavailable,
};

struct ControlError {
    ControlErrorCode code = ControlErrorCode::unknownWindow;
    std::string message;

    friend bool operator==(const ControlError&, const ControlError&) = default;
};

}  // namespace tovalo
