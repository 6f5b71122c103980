#pragma once

// `tovalo ctl`: the command-line client of the control interface. It sends one command to the
// running instance over the session D-Bus, prints the answer and returns an exit code a script
// can test. The program's main calls runCtl for `tovalo ctl ...`; nothing here outlives a call.

#include <ostream>
#include <string>
#include <vector>

class QDBusConnection;

namespace tovalo::qt {

namespace CtlExitCode {
inline constexpr int ok = 0;
// The command ran and failed: unknown window, not capturable, not pinned, no answer.
inline constexpr int failed = 1;
// The command line was wrong; the usage is printed.
inline constexpr int usage = 2;
// No instance serves the control interface (or there is no session bus).
inline constexpr int notRunning = 3;
}  // namespace CtlExitCode

// `args` are the words after "ctl": list | pin ID | unpin ID | unpin-all | status | help. IDs
// are decimal or 0x-prefixed hexadecimal window IDs. Answers go to `out`, errors and usage to
// `err`. Uses the session bus; makes a QCoreApplication for the call when none exists.
int runCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The same over a given connection.
int runCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const QDBusConnection& bus);

}  // namespace tovalo::qt
