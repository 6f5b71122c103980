#pragma once

// Catches the fatal signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) of the process and
// writes a crash record (see crash_record.h) before the process dies, so that the crash can
// be reported at the next start. The handler runs on an alternate signal stack (a stack
// overflow still gets its record) and calls only async-signal-safe functions: everything it
// needs — the record's path, the context line, the loaded unwinder — is prepared when it is
// installed. It then puts back the action that was installed before it and lets the signal
// take that course, so the process still dies (or other crash tooling still runs).
//
// Signal dispositions belong to the whole process, so this is a process-wide facility: the
// error reporting client installs it once at start and removes it when it is destroyed.

#include <span>
#include <string>

namespace tovalo {

class CrashSignalHandler {
  public:
    static std::span<const int> signals();

    // Installs the handler; the record will be written to `recordPath` (whose folder must
    // exist by the time of a crash). False, changing nothing, when already installed or the
    // path is too long.
    static bool install(const std::string& recordPath);
    // Puts back the actions that were installed before; harmless when not installed.
    static void uninstall();
    static bool isInstalled();

    // One line of text (line breaks are replaced) written into each record as its context.
    static void setContext(std::string line);

    // Gives the calling thread an alternate signal stack of its own, so that a stack overflow
    // on it is recorded too. install() does this for the thread that calls it.
    static void prepareCurrentThread();
};

}  // namespace tovalo
