#pragma once

// The one QApplication of the Qt test binary and the desktop it runs on: a private Xvfb +
// openbox session when one can start (Qt then uses xcb on it), else the offscreen platform.
// Built by a global test environment before the first test, torn down after the last one
// (the application before the X server). Also a way to wait with Qt's loop running.

#include <chrono>
#include <functional>

#include "support/x11/x_session.h"

namespace tovalo::qt::testing {

class QtTestDesktop {
  public:
    // Null when no X server could start; then `skipReason()` says why.
    static tovalo::testing::XSession* session();
    static const std::string& skipReason();

    // Runs Qt's event loop until `predicate` holds (checked after X changes on the root, Qt
    // events and at least every 50 ms) or `timeout` passes; false on time-out.
    static bool pumpUntil(const std::function<bool()>& predicate,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
};

}  // namespace tovalo::qt::testing
