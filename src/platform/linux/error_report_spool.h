#pragma once

// The error reports waiting to be sent: one file per report in a directory of their own
// (normally $XDG_STATE_HOME/tovalo/error-reports), so that reports survive being offline, a
// restart and a crash. Files are written whole or not at all (temporary file, then link),
// named by a sequence number so that the oldest comes first, and the spool never holds more
// than its limits: the oldest reports are dropped to make room. Empty, oversized and
// half-written files are removed when the spool is first used. When the directory cannot be
// written the report is kept in memory instead and sent from there.
//
// Owned by the error reporting client and used from its background queues; every member is
// safe to call from any thread. Nothing touches the disk before the first call.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tovalo {

class ErrorReportSpool {
  public:
    struct Limits {
        std::size_t maxReports = 100;
        std::size_t maxTotalBytes = 4 * 1024 * 1024;
        // A file larger than this was not written by the client: it is removed unread.
        std::size_t maxReportBytes = 1024 * 1024;
    };

    struct Entry {
        std::uint64_t sequence = 0;
        std::size_t size = 0;
        bool inMemory = false;
    };

    explicit ErrorReportSpool(std::string directory) : ErrorReportSpool(std::move(directory), {}) {}
    ErrorReportSpool(std::string directory, Limits limits);

    // Stores one report; true when it reached the disk, false when it is held in memory.
    bool add(std::string report);
    // Every stored report, oldest first.
    std::vector<Entry> list();
    // The report's text; nullopt when it is gone or cannot be read (it is then forgotten).
    std::optional<std::string> read(const Entry& entry);
    // Forgets the report and deletes its file.
    void remove(const Entry& entry);

    // Reports dropped to stay within the limits since the spool was made.
    std::size_t droppedCount() const;
    const std::string& directory() const { return directory_; }
    const Limits& limits() const { return limits_; }

  private:
    struct Item {
        std::string fileName;  // empty when held in memory
        std::size_t size = 0;
        std::optional<std::string> contents;  // set when held in memory
    };

    void loadLocked();
    bool writeFileLocked(std::uint64_t& sequence, const std::string& report, std::string& fileName);
    void enforceLimitsLocked();
    void eraseLocked(std::map<std::uint64_t, Item>::iterator it);

    const std::string directory_;
    const Limits limits_;

    mutable std::mutex mutex_;
    bool loaded_ = false;
    std::map<std::uint64_t, Item> items_;
    std::size_t totalBytes_ = 0;
    std::uint64_t nextSequence_ = 1;
    std::size_t dropped_ = 0;
};

}  // namespace tovalo
